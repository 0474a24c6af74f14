#include "SymbolItem.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QQuickWindow>

#include <functional>

namespace {

const QString logoMarkName = QStringLiteral("LogoMark");

// Each symbol is drawn into a 24 by 24 design square, scaled to the requested size.
using Drawing = std::function<void(QPainter &, const QColor &)>;

void drawCircleOutline(QPainter &painter, const QColor &colour)
{
    painter.setPen(QPen(colour, 1.8));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(2.9, 2.9, 18.2, 18.2));
}

void drawCheckmarkCircle(QPainter &painter, const QColor &colour)
{
    QPainterPath disc;
    disc.addEllipse(QRectF(2, 2, 20, 20));
    QPainterPath tick;
    tick.moveTo(7.2, 12.4);
    tick.lineTo(10.6, 15.8);
    tick.lineTo(17.0, 8.6);
    QPainterPathStroker stroker;
    stroker.setWidth(2.4);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    painter.fillPath(disc.subtracted(stroker.createStroke(tick)), colour);
}

void drawPhone(QPainter &painter, const QColor &colour)
{
    QPainterPath handset;
    handset.moveTo(6.6, 2.6);
    handset.cubicTo(7.4, 2.2, 8.3, 2.5, 8.7, 3.3);
    handset.lineTo(10.4, 6.8);
    handset.cubicTo(10.8, 7.6, 10.6, 8.5, 9.9, 9.0);
    handset.lineTo(8.6, 10.0);
    handset.cubicTo(9.7, 12.4, 11.6, 14.3, 14.0, 15.4);
    handset.lineTo(15.0, 14.1);
    handset.cubicTo(15.5, 13.4, 16.4, 13.2, 17.2, 13.6);
    handset.lineTo(20.7, 15.3);
    handset.cubicTo(21.5, 15.7, 21.8, 16.6, 21.4, 17.4);
    handset.lineTo(20.4, 19.5);
    handset.cubicTo(19.8, 20.7, 18.4, 21.4, 17.1, 21.1);
    handset.cubicTo(10.0, 19.6, 4.4, 14.0, 2.9, 6.9);
    handset.cubicTo(2.6, 5.6, 3.3, 4.2, 4.5, 3.6);
    handset.closeSubpath();
    painter.fillPath(handset, colour);
}

void drawWifiSlash(QPainter &painter, const QColor &colour)
{
    QPen pen(colour, 2.0);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QPointF centre(12, 19);
    for (const double radius : {13.0, 9.0, 5.0}) {
        const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
        painter.drawArc(box, 45 * 16, 90 * 16);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(centre, 1.7, 1.7);
    // The slash, with a gap cut around it so it reads over the arcs.
    QPen gap(Qt::transparent, 4.4);
    gap.setCapStyle(Qt::RoundCap);
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.setPen(gap);
    painter.drawLine(QPointF(4, 3), QPointF(20, 21));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setPen(pen);
    painter.drawLine(QPointF(4, 3), QPointF(20, 21));
}

// The spinning part of the activity indicator: three quarters of a ring over a faint full ring.
void drawActivity(QPainter &painter, const QColor &colour)
{
    const QRectF ring(3, 3, 18, 18);
    QColor track = colour;
    track.setAlphaF(colour.alphaF() * 0.18);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(track, 2.6));
    painter.drawEllipse(ring);
    QPen arc(colour, 2.6);
    arc.setCapStyle(Qt::RoundCap);
    painter.setPen(arc);
    painter.drawArc(ring, 90 * 16, -100 * 16);
}

void drawNothing(QPainter &, const QColor &)
{
}

const QHash<QString, Drawing> &drawings()
{
    static const QHash<QString, Drawing> table{
        {QStringLiteral("phone.fill"), drawPhone},     {QStringLiteral("checkmark.circle.fill"), drawCheckmarkCircle},
        {QStringLiteral("circle"), drawCircleOutline}, {QStringLiteral("wifi.slash"), drawWifiSlash},
        {QStringLiteral("activity"), drawActivity},
    };
    return table;
}

QImage &logoMark()
{
    static QImage image;
    return image;
}

QImage tinted(const QImage &source, const QColor &colour, const QSize &size)
{
    QImage image = source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                       .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), colour);
    painter.end();
    return image;
}

} // namespace

SymbolItem::SymbolItem(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

void SymbolItem::setLogoMarkPath(const QString &path)
{
    logoMark() = QImage(path);
}

bool SymbolItem::hasLogoMark()
{
    return !logoMark().isNull();
}

void SymbolItem::setName(const QString &name)
{
    if (m_name == name)
        return;
    m_name = name;
    Q_EMIT nameChanged();
    update();
}

void SymbolItem::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    Q_EMIT colorChanged();
    update();
}

void SymbolItem::paint(QPainter *painter)
{
    const QSizeF side = size();
    if (side.isEmpty())
        return;
    painter->setRenderHint(QPainter::Antialiasing);
    if (m_name == logoMarkName && hasLogoMark()) {
        const QSize pixels = (side * window()->effectiveDevicePixelRatio()).toSize();
        painter->drawImage(QRectF(QPointF(0, 0), side), tinted(logoMark(), m_color, pixels));
        return;
    }
    painter->scale(side.width() / 24.0, side.height() / 24.0);
    const Drawing drawing = m_name == logoMarkName ? Drawing(drawPhone) : drawings().value(m_name, drawNothing);
    drawing(*painter, m_color);
}
