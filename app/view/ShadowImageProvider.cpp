#include "ShadowImageProvider.h"

#include <QPainter>
#include <QPainterPath>
#include <QQuickWindow>
#include <QSGTexture>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// One pass of a Gaussian blur along rows (or, transposed, columns) of a square coverage map.
std::vector<float> blurred(const std::vector<float> &values, int side, float sigma, bool alongRows)
{
    if (sigma <= 0)
        return values;
    const int reach = int(std::ceil(3 * sigma));
    std::vector<float> kernel(2 * reach + 1);
    float total = 0;
    for (int i = -reach; i <= reach; ++i)
        total += kernel[i + reach] = std::exp(-float(i * i) / (2 * sigma * sigma));
    for (float &weight : kernel)
        weight /= total;

    std::vector<float> result(values.size(), 0.0f);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            float sum = 0;
            for (int i = -reach; i <= reach; ++i) {
                const int along = (alongRows ? x : y) + i;
                if (along < 0 || along >= side)
                    continue;
                sum += kernel[i + reach] * values[alongRows ? y * side + along : along * side + x];
            }
            result[y * side + x] = sum;
        }
    }
    return result;
}

// How much of each pixel the rounded rectangle covers, antialiased as the scene graph draws it.
std::vector<float> coverage(int side, int inset, int radius, int down)
{
    QImage mask(side, side, QImage::Format_Alpha8);
    mask.fill(0);
    QPainter painter(&mask);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(inset, inset + down, side - 2 * inset, side - 2 * inset), radius, radius);
    painter.fillPath(shape, Qt::black);
    painter.end();
    std::vector<float> values(size_t(side) * side);
    for (int y = 0; y < side; ++y) {
        const uchar *line = mask.constScanLine(y);
        for (int x = 0; x < side; ++x)
            values[y * side + x] = line[x] / 255.0f;
    }
    return values;
}

// Hands the image to the scene graph as a texture of its own, never a place in the atlas.
class OwnTexture final : public QQuickTextureFactory
{
public:
    explicit OwnTexture(QImage image)
        : m_image(std::move(image))
    {
    }
    QSGTexture *createTexture(QQuickWindow *window) const override { return window->createTextureFromImage(m_image); }
    QSize textureSize() const override { return m_image.size(); }
    int textureByteCount() const override { return int(m_image.sizeInBytes()); }
    QImage image() const override { return m_image; }

private:
    QImage m_image;
};

} // namespace

ShadowImageProvider::ShadowImageProvider()
    : QQuickImageProvider(QQuickImageProvider::Texture)
{
}

QImage ShadowImageProvider::shadow(int blur, int offset)
{
    const int side = 2 * border + 1;
    const int inset = margin;
    const float sigma = float(blur) / 2;
    const std::vector<float> cast =
        blurred(blurred(coverage(side, inset, cornerRadius, offset), side, sigma, true), side, sigma, false);
    const std::vector<float> shape = coverage(side, inset, cornerRadius, 0);

    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < side; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < side; ++x) {
            const size_t at = size_t(y) * side + x;
            line[x] = qRgba(0, 0, 0, qRound(255 * std::clamp(cast[at] * (1 - shape[at]), 0.0f, 1.0f)));
        }
    }
    return image;
}

// The id is "<blur>/<offset>".
QQuickTextureFactory *ShadowImageProvider::requestTexture(const QString &id, QSize *size, const QSize &)
{
    const QStringList parts = id.split(u'/');
    QImage image = shadow(qBound(0, parts.value(0).toInt(), margin), qBound(0, parts.value(1).toInt(), margin));
    if (size)
        *size = image.size();
    return new OwnTexture(std::move(image));
}
