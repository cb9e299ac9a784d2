#include "display/drawcontext.h"

#include "display/colorvalue.h"

#include <QPainter>

namespace vm::display {

DrawContext::DrawContext(QPainter& painter, const QRectF& imageRect, const QSizeF& imageSize,
                         const QFont& textFont)
    : m_painter(painter)
    , m_origin(imageRect.topLeft())
    , m_font(textFont) {
    if (imageSize.width() > 0 && imageRect.width() > 0)
        m_scaleX = imageRect.width() / imageSize.width();
    if (imageSize.height() > 0 && imageRect.height() > 0)
        m_scaleY = imageRect.height() / imageSize.height();
}

DrawContext::~DrawContext() {
    Flush();
}

QPointF DrawContext::ImageToDevice(QPointF imagePoint) const {
    return {m_origin.x() + imagePoint.x() * m_scaleX, m_origin.y() + imagePoint.y() * m_scaleY};
}

QPen DrawContext::makePen() const {
    QPen pen(m_penColor);
    pen.setWidth(qMax(1, m_penWidth));
    pen.setCosmetic(true);
    pen.setJoinStyle(Qt::MiterJoin);
    pen.setCapStyle(Qt::SquareCap);
    switch (m_penStyle) {
    case Dash:
        pen.setStyle(Qt::DashLine);
        break;
    case Dotted:
        pen.setStyle(Qt::DotLine);
        pen.setCapStyle(Qt::FlatCap);
        break;
    case DashDot:
        pen.setStyle(Qt::DashDotLine);
        break;
    case DashDotDot:
        pen.setStyle(Qt::DashDotDotLine);
        break;
    case Invisible:
        pen.setStyle(Qt::NoPen);
        break;
    default:
        pen.setStyle(Qt::SolidLine);
        break;
    }
    return pen;
}

void DrawContext::Flush() {
    if (m_outline.isEmpty())
        return;
    m_painter.save();
    m_painter.setRenderHint(QPainter::Antialiasing, false);
    m_painter.strokePath(m_outline, makePen());
    m_painter.restore();
    m_outline.clear();
}

void DrawContext::SetPen(int style, int width, quint32 color) {
    Flush();
    m_penStyle = style;
    m_penWidth = width;
    m_penColor = ToQColor(color);
}

void DrawContext::BeginOutline() {
    Flush();
    m_outline.moveTo(ImageToDevice(m_current));
}

void DrawContext::MoveTo(double x, double y) {
    m_current = QPointF(x, y);
    m_outline.moveTo(ImageToDevice(m_current));
}

void DrawContext::LineTo(double x, double y) {
    if (m_outline.elementCount() == 0)
        m_outline.moveTo(ImageToDevice(m_current));
    m_current = QPointF(x, y);
    m_outline.lineTo(ImageToDevice(m_current));
}

void DrawContext::Rectangle(double x1, double y1, double x2, double y2) {
    Flush();
    QPainterPath path;
    path.addRect(QRectF(ImageToDevice({x1, y1}), ImageToDevice({x2, y2})).normalized());
    m_painter.save();
    m_painter.setRenderHint(QPainter::Antialiasing, false);
    m_painter.strokePath(path, makePen());
    m_painter.restore();
}

void DrawContext::DeviceToImageDistance(double& dx, double& dy) const {
    dx /= m_scaleX;
    dy /= m_scaleY;
}

void DrawContext::DrawHandleMark(double x, double y, quint32 color, int shape) {
    Flush();
    const QPointF centre = ImageToDevice({x, y});
    const int h = kHandleMarkHalfSize;
    const QRectF box(centre.x() - h, centre.y() - h, 2 * h, 2 * h);
    const QColor c = ToQColor(color);
    m_painter.save();
    m_painter.setRenderHint(QPainter::Antialiasing, shape == Circle);
    switch (shape) {
    case HollowSquare:
        m_painter.setPen(QPen(c, 1));
        m_painter.setBrush(Qt::NoBrush);
        m_painter.drawRect(box);
        break;
    case Circle:
        m_painter.setPen(QPen(Qt::black, 1));
        m_painter.setBrush(c);
        m_painter.drawEllipse(box);
        break;
    case Cross:
        m_painter.setPen(QPen(c, 2));
        m_painter.drawLine(box.topLeft(), box.bottomRight());
        m_painter.drawLine(box.topRight(), box.bottomLeft());
        break;
    default:
        // A dark rim keeps the mark visible on bright images.
        m_painter.setPen(QPen(Qt::black, 1));
        m_painter.setBrush(c);
        m_painter.drawRect(box);
        break;
    }
    m_painter.restore();
}

void DrawContext::SetTextColor(quint32 color) {
    Flush();
    m_textColor = ToQColor(color);
}

void DrawContext::DrawText(double x, double y, const QString& text) {
    Flush();
    m_painter.save();
    m_painter.setRenderHint(QPainter::TextAntialiasing, true);
    m_painter.setFont(m_font);
    m_painter.setPen(m_textColor);
    const QPointF at = ImageToDevice({x, y});
    m_painter.drawText(QRectF(at, QSizeF(1e5, 1e5)), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, text);
    m_painter.restore();
}

} // namespace vm::display
