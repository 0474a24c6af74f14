#pragma once

#include <QColor>
#include <QImage>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

// Draws one of the interface's symbols by name ("phone.fill", "checkmark.circle.fill", "circle",
// "wifi.slash", "activity" for the activity indicator, or "LogoMark" for the bundle's logo) in one colour, stretched to
// the item's size. The logo is drawn as a template, its alpha kept and its colour replaced; without a readable logo
// file "phone.fill" stands in for it. Unknown names draw nothing.
class SymbolItem : public QQuickPaintedItem
{
    Q_OBJECT
    QML_NAMED_ELEMENT(Symbol)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)

public:
    explicit SymbolItem(QQuickItem *parent = nullptr);

    // Where the logo is read from, once, before the first window loads.
    static void setLogoMarkPath(const QString &path);
    static bool hasLogoMark();

    const QString &name() const { return m_name; }
    void setName(const QString &name);
    const QColor &color() const { return m_color; }
    void setColor(const QColor &color);

    void paint(QPainter *painter) override;

Q_SIGNALS:
    void nameChanged();
    void colorChanged();

private:
    QString m_name;
    QColor m_color = Qt::black;
};
