#pragma once

#include <QQuickImageProvider>

// The buttons' drop shadow as a nine-patch image, drawn once per kind and cached by the engine, so a
// button needs no graphical effect, no offscreen layer and no shader to cast it. Each image is a texture
// of its own: in the scene graph's shared atlas these few small images would cost a whole 1024×1024
// texture, megabytes in a software GL driver.
//
// "image://shadow/<blur>/<offset>" is the shadow of a rounded rectangle of corner radius `cornerRadius`,
// blurred by `blur` points (a Gaussian of standard deviation blur / 2) and moved down `offset` points,
// in opaque black (the item's opacity sets its strength). The image is the rectangle grown by `margin`
// on every side; the rectangle itself is cut out of it, so a translucent button shows what lies beneath
// it and not its own shadow. Its middle row and column are uniform, so a BorderImage with all four
// borders `border` stretches it to any button (StyledButton.qml uses these two numbers).
class ShadowImageProvider : public QQuickImageProvider
{
public:
    static constexpr int cornerRadius = 8;
    // Room for three standard deviations of a blur of 3 and an offset of 2 (1.5 × blur + offset);
    // larger shadows are cut at the edge.
    static constexpr int margin = 7;
    // The corner and what the blur and the offset carry past it, on both sides of the rectangle's edge.
    static constexpr int border = 2 * margin + cornerRadius;

    ShadowImageProvider();
    // The image for a blur and an offset, one pixel per point (a blur loses nothing when it is scaled).
    static QImage shadow(int blur, int offset);

    QQuickTextureFactory *requestTexture(const QString &id, QSize *size, const QSize &requestedSize) override;
};
