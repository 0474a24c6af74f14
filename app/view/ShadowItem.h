#pragma once

#include <QImage>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

// The buttons' drop shadow: the shadow of a rounded rectangle of corner radius `cornerRadius`, blurred by
// `blur` points (a Gaussian of standard deviation blur / 2) and moved down `offset` points, in opaque
// black (the item's opacity sets its strength). It is drawn once into a small nine-patch image and
// stretched to the item, so a button needs no graphical effect, offscreen layer or shader to cast it.
// The item is the rectangle grown by `margin` on every side; the rectangle itself is cut out, so a
// translucent button shows what lies beneath it and not its own shadow.
class ShadowItem : public QQuickPaintedItem
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Shadow)
    Q_PROPERTY(int blur READ blur WRITE setBlur NOTIFY blurChanged)
    Q_PROPERTY(int offset READ offset WRITE setOffset NOTIFY offsetChanged)

public:
    static constexpr int cornerRadius = 8;
    // Room for three standard deviations of a blur of 3 and an offset of 2 (1.5 × blur + offset);
    // larger shadows are cut at the edge. StyledButton.qml grows the item by this much.
    static constexpr int margin = 7;

    explicit ShadowItem(QQuickItem *parent = nullptr);

    int blur() const { return m_blur; }
    void setBlur(int blur);
    int offset() const { return m_offset; }
    void setOffset(int offset);

    void paint(QPainter *painter) override;

Q_SIGNALS:
    void blurChanged();
    void offsetChanged();

private:
    // Sets the blur or the offset, kept within the margin; true when it changed.
    bool changeShape(int &number, int value);

    int m_blur = 0;
    int m_offset = 0;
    QImage m_image; // the nine-patch for the current blur and offset, made at the first paint
};
