#pragma once

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

class QPainter;

namespace vm::display {

// What an overlay draws with. Coordinates are image pixels as doubles (the image
// spans 0..width, 0..height); pen widths and handle marks are in screen pixels, so
// overlays keep their look at any zoom. Colours are 0x00BBGGRR values.
class DrawContext {
public:
    enum PenStyle { Solid = 0, Dash = 1, Dotted = 2, DashDot = 3, DashDotDot = 4, Invisible = 5 };
    enum HandleShape { FilledSquare = 0, HollowSquare = 1, Circle = 2, Cross = 3 };

    // imageRect: where the whole image lies on the painter's device; imageSize: the
    // image's size in pixels.
    DrawContext(QPainter& painter, const QRectF& imageRect, const QSizeF& imageSize,
                const QFont& textFont = QFont());
    ~DrawContext();
    DrawContext(const DrawContext&) = delete;
    DrawContext& operator=(const DrawContext&) = delete;

    void SetPen(int style, int width, quint32 color);
    // Starts a new connected outline; the MoveTo/LineTo calls after it are
    // stroked together so that thick corners join cleanly.
    void BeginOutline();
    void MoveTo(double x, double y);
    void LineTo(double x, double y);
    void Rectangle(double x1, double y1, double x2, double y2);
    // Converts a distance in screen pixels to image pixels, in place.
    void DeviceToImageDistance(double& dx, double& dy) const;
    void DrawHandleMark(double x, double y, quint32 color, int shape);
    void SetTextColor(quint32 color);
    // Draws text with its top-left corner at the image point (x, y).
    void DrawText(double x, double y, const QString& text);

    QPointF ImageToDevice(QPointF imagePoint) const;
    double ScaleX() const { return m_scaleX; }
    double ScaleY() const { return m_scaleY; }
    // Strokes the outline collected so far; the view calls it after each overlay.
    void Flush();

    // Half the side of a handle mark, in screen pixels.
    static constexpr int kHandleMarkHalfSize = 4;

private:
    QPainter& m_painter;
    QPointF m_origin;
    double m_scaleX = 1.0;
    double m_scaleY = 1.0;
    QFont m_font;
    QPen makePen() const;
    int m_penStyle = Solid;
    int m_penWidth = 1;
    QColor m_penColor = Qt::black;
    QColor m_textColor = Qt::white;
    QPainterPath m_outline;
    QPointF m_current;
};

// An object the image view draws over the image on every redraw.
class VxDrawObj {
public:
    virtual ~VxDrawObj() = default;
    virtual void Draw(DrawContext& context) const = 0;
};

// An overlay the operator may drag: handles move single points, a grab inside
// the shape moves all of it. Coordinates are image pixels.
class VxDrawHandles {
public:
    virtual ~VxDrawHandles() = default;
    virtual int NumHandles() const = 0;
    virtual void GetHandle(int index, double& x, double& y, int& flags) const = 0;
    virtual void DrawHandle(DrawContext& context, int index) const = 0;
    virtual void MoveHandleTo(int index, double x, double y) = 0;
    virtual void MoveRelative(double dx, double dy) = 0;
    virtual bool PointIsInside(double x, double y) const = 0;
};

} // namespace vm::display
