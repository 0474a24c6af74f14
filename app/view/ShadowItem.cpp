#include "ShadowItem.h"

#include <QPainter>
#include <QPainterPath>

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

// The corner and what the blur and the offset carry past it, on both sides of the rectangle's edge; the
// image's middle row and column are uniform, so stretching them draws any size of button.
constexpr int border = 2 * ShadowItem::margin + ShadowItem::cornerRadius;

// The image for a blur and an offset, one pixel per point (a blur loses nothing when it is scaled).
QImage shadowImage(int blur, int offset)
{
    const int side = 2 * border + 1;
    const float sigma = float(blur) / 2;
    const int inset = ShadowItem::margin;
    const int radius = ShadowItem::cornerRadius;
    const std::vector<float> cast =
        blurred(blurred(coverage(side, inset, radius, offset), side, sigma, true), side, sigma, false);
    const std::vector<float> shape = coverage(side, inset, radius, 0);

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

// Draws the image's corners at their size and stretches its middle row and column across the rest.
void drawNinePatch(QPainter &painter, const QRectF &target, const QImage &image)
{
    const qreal side = image.width();
    const qreal from[] = {0, border, side - border, side};
    const qreal across[] = {target.left(), target.left() + border, target.right() - border, target.right()};
    const qreal down[] = {target.top(), target.top() + border, target.bottom() - border, target.bottom()};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            const QRectF piece(QPointF(across[column], down[row]), QPointF(across[column + 1], down[row + 1]));
            if (piece.isValid())
                painter.drawImage(piece, image,
                                  QRectF(QPointF(from[column], from[row]), QPointF(from[column + 1], from[row + 1])));
        }
    }
}

} // namespace

ShadowItem::ShadowItem(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
}

void ShadowItem::setBlur(int blur)
{
    if (changeShape(m_blur, blur))
        Q_EMIT blurChanged();
}

void ShadowItem::setOffset(int offset)
{
    if (changeShape(m_offset, offset))
        Q_EMIT offsetChanged();
}

bool ShadowItem::changeShape(int &number, int value)
{
    value = qBound(0, value, margin);
    if (value == number)
        return false;
    number = value;
    m_image = QImage();
    update();
    return true;
}

void ShadowItem::paint(QPainter *painter)
{
    if (m_image.isNull())
        m_image = shadowImage(m_blur, m_offset);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    drawNinePatch(*painter, boundingRect(), m_image);
}
