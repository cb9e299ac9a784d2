#pragma once

#include "display/drawcontext.h"

#include <QObject>
#include <QString>

#include <array>

namespace vm::tools {

using vm::display::DrawContext;

// Image coordinates are pixels of the 659 x 494 image.
constexpr int kImageWidth = 659;
constexpr int kImageHeight = 494;

// The decoding search area (and the histogram region): an axis-aligned
// rectangle with four corner handles that stays inside the image and keeps a
// minimum size of 10 pixels.
class SearchArea : public QObject, public vm::display::VxDrawObj, public vm::display::VxDrawHandles {
    Q_OBJECT
public:
    static constexpr int kMinimumSize = 10;

    explicit SearchArea(QObject* parent = nullptr);

    qint16 Left() const { return m_left; }
    qint16 Top() const { return m_top; }
    qint16 Right() const { return m_right; }
    qint16 Bottom() const { return m_bottom; }
    quint32 Color() const { return m_color; }
    void SetLeft(int value) { m_left = clamp16(value); }
    void SetTop(int value) { m_top = clamp16(value); }
    void SetRight(int value) { m_right = clamp16(value); }
    void SetBottom(int value) { m_bottom = clamp16(value); }
    void SetColor(quint32 color) { m_color = color; }

    void Draw(DrawContext& context) const override;
    int NumHandles() const override { return 4; }
    void GetHandle(int index, double& x, double& y, int& flags) const override;
    void DrawHandle(DrawContext& context, int index) const override;
    void MoveHandleTo(int index, double x, double y) override;
    void MoveRelative(double dx, double dy) override;
    bool PointIsInside(double x, double y) const override;

signals:
    void OnResize(int left, int top, int right, int bottom);

private:
    static qint16 clamp16(long long value);
    static qint16 round16(double value);
    void applyConstraints(int handle);

    qint16 m_left = 100;
    qint16 m_top = 100;
    qint16 m_right = 300;
    qint16 m_bottom = 300;
    quint32 m_color;
};

// A matrix region of interest: a free quadrilateral whose corners the operator
// drags one by one.
class MatrixROI : public vm::display::VxDrawObj, public vm::display::VxDrawHandles {
public:
    MatrixROI();

    double X(int index) const { return m_x.at(std::size_t(index)); }
    double Y(int index) const { return m_y.at(std::size_t(index)); }
    void SetX(int index, double value) { m_x.at(std::size_t(index)) = value; }
    void SetY(int index, double value) { m_y.at(std::size_t(index)) = value; }
    quint32 Color() const { return m_color; }
    void SetColor(quint32 color) { m_color = color; }
    int Left() const;
    int Top() const;
    int Right() const;
    int Bottom() const;

    void Draw(DrawContext& context) const override;
    int NumHandles() const override { return 4; }
    void GetHandle(int index, double& x, double& y, int& flags) const override;
    void DrawHandle(DrawContext& context, int index) const override;
    void MoveHandleTo(int index, double x, double y) override;
    void MoveRelative(double dx, double dy) override;
    bool PointIsInside(double x, double y) const override;

private:
    std::array<double, 4> m_x{100, 200, 200, 100};
    std::array<double, 4> m_y{100, 100, 200, 200};
    quint32 m_color;
};

// A centring aid: two red lines through the image centre.
class Crosshairs : public vm::display::VxDrawObj {
public:
    void Draw(DrawContext& context) const override;
};

// An alignment aid for calibration: 17 concentric squares around the image
// centre, 15 pixels apart, and a caption.
class Boxes : public vm::display::VxDrawObj {
public:
    static constexpr int kCount = 17;
    static constexpr int kStep = 15;
    static QString Caption() { return QStringLiteral("Align Matrix to Boxes"); }
    void Draw(DrawContext& context) const override;
};

} // namespace vm::tools
