#include "tools/overlays.h"

#include "display/colorvalue.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vm::tools {

using vm::display::Rgb;

namespace {
constexpr quint32 kCyan = Rgb(0, 255, 255);
constexpr quint32 kGreen = Rgb(0, 255, 0);
constexpr quint32 kRed = Rgb(255, 0, 0);
constexpr quint32 kOrange = Rgb(255, 128, 0);
constexpr quint32 kLightOrange = Rgb(255, 192, 128);

// Whole numbers are taken to the nearest, halves to the even neighbour.
long long roundHalfEven(double value) {
    if (!std::isfinite(value))
        return value > 0 ? std::numeric_limits<int>::max() : std::numeric_limits<int>::min();
    return (long long)std::nearbyint(std::clamp(value, -1e15, 1e15));
}
} // namespace

// ---- SearchArea

SearchArea::SearchArea(QObject* parent)
    : QObject(parent)
    , m_color(kCyan) {}

qint16 SearchArea::clamp16(long long value) {
    return qint16(
        std::clamp<long long>(value, std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max()));
}

qint16 SearchArea::round16(double value) {
    return clamp16(roundHalfEven(value));
}

void SearchArea::Draw(DrawContext& context) const {
    context.SetPen(DrawContext::Solid, 2, m_color);
    context.BeginOutline();
    context.MoveTo(m_left, m_top);
    context.LineTo(m_right, m_top);
    context.LineTo(m_right, m_bottom);
    context.LineTo(m_left, m_bottom);
    context.LineTo(m_left, m_top);
}

void SearchArea::GetHandle(int index, double& x, double& y, int& flags) const {
    flags = 0;
    x = (index == 1 || index == 2) ? m_right : m_left;
    y = (index == 2 || index == 3) ? m_bottom : m_top;
}

void SearchArea::DrawHandle(DrawContext& context, int index) const {
    double x = 0, y = 0;
    int flags = 0;
    GetHandle(index, x, y, flags);
    context.SetPen(DrawContext::Solid, 3, kGreen);
    double halfWidth = 4, halfHeight = 4;
    context.DeviceToImageDistance(halfWidth, halfHeight);
    context.Rectangle(x - halfWidth, y - halfHeight, x + halfWidth, y + halfHeight);
}

void SearchArea::MoveHandleTo(int index, double x, double y) {
    const qint16 nx = round16(x);
    const qint16 ny = round16(y);
    switch (index) {
    case 0:
        m_left = nx;
        m_top = ny;
        break;
    case 1:
        m_right = nx;
        m_top = ny;
        break;
    case 2:
        m_right = nx;
        m_bottom = ny;
        break;
    case 3:
        m_left = nx;
        m_bottom = ny;
        break;
    default:
        return;
    }
    applyConstraints(index);
    emit OnResize(m_left, m_top, m_right, m_bottom);
}

void SearchArea::MoveRelative(double dx, double dy) {
    m_left = round16(m_left + dx);
    m_right = round16(m_right + dx);
    m_top = round16(m_top + dy);
    m_bottom = round16(m_bottom + dy);
    applyConstraints(0);
    emit OnResize(m_left, m_top, m_right, m_bottom);
}

void SearchArea::applyConstraints(int handle) {
    if (m_left < 0)
        m_left = 0;
    if (m_top < 0)
        m_top = 0;
    if (m_right > kImageWidth - 1)
        m_right = kImageWidth - 1;
    if (m_bottom > kImageHeight - 1)
        m_bottom = kImageHeight - 1;
    // A whole-area move that leaves the corner at (300, 300) keeps the area as it
    // is, even below the minimum size.
    if (handle == 0 && m_right == 300 && m_bottom == 300)
        return;
    if (m_right - m_left < kMinimumSize) {
        if (handle == 0 || handle == 3)
            m_left = clamp16(m_right - kMinimumSize);
        else
            m_right = clamp16(m_left + kMinimumSize);
    }
    if (m_bottom - m_top < kMinimumSize) {
        if (handle == 0 || handle == 1)
            m_top = clamp16(m_bottom - kMinimumSize);
        else
            m_bottom = clamp16(m_top + kMinimumSize);
    }
}

bool SearchArea::PointIsInside(double x, double y) const {
    return m_left <= x && x <= m_right && m_top <= y && y <= m_bottom;
}

// ---- MatrixROI

MatrixROI::MatrixROI()
    : m_color(kCyan) {}

int MatrixROI::Left() const {
    return int(roundHalfEven(m_x[0]));
}
int MatrixROI::Top() const {
    return int(roundHalfEven(m_y[0]));
}
int MatrixROI::Right() const {
    return int(roundHalfEven(m_x[2]));
}
int MatrixROI::Bottom() const {
    return int(roundHalfEven(m_y[2]));
}

void MatrixROI::Draw(DrawContext& context) const {
    context.SetPen(DrawContext::Dotted, 1, m_color);
    context.BeginOutline();
    context.MoveTo(m_x[0], m_y[0]);
    for (int i : {1, 2, 3, 0})
        context.LineTo(m_x[std::size_t(i)], m_y[std::size_t(i)]);
}

void MatrixROI::GetHandle(int index, double& x, double& y, int& flags) const {
    flags = 0;
    if (index < 0 || index > 3) {
        x = y = 0;
        return;
    }
    x = m_x[std::size_t(index)];
    y = m_y[std::size_t(index)];
}

void MatrixROI::DrawHandle(DrawContext& context, int index) const {
    if (index < 0 || index > 3)
        return;
    context.DrawHandleMark(m_x[std::size_t(index)], m_y[std::size_t(index)], kGreen, 0);
}

void MatrixROI::MoveHandleTo(int index, double x, double y) {
    if (index < 0 || index > 3)
        return;
    m_x[std::size_t(index)] = x;
    m_y[std::size_t(index)] = y;
}

void MatrixROI::MoveRelative(double dx, double dy) {
    for (std::size_t i = 0; i < 4; ++i) {
        m_x[i] += dx;
        m_y[i] += dy;
    }
}

bool MatrixROI::PointIsInside(double x, double y) const {
    double minX = 1000, minY = 1000, maxX = 0, maxY = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        minX = std::min(minX, m_x[i]);
        minY = std::min(minY, m_y[i]);
        maxX = std::max(maxX, m_x[i]);
        maxY = std::max(maxY, m_y[i]);
    }
    return minX <= x && x <= maxX && minY <= y && y <= maxY;
}

// ---- Crosshairs and Boxes

void Crosshairs::Draw(DrawContext& context) const {
    context.SetPen(DrawContext::Solid, 1, kRed);
    context.MoveTo(329.5, 0);
    context.LineTo(329.5, 494);
    context.MoveTo(0, 247);
    context.LineTo(659, 247);
}

void Boxes::Draw(DrawContext& context) const {
    const double cx = double(roundHalfEven(kImageWidth / 2.0));  // 330
    const double cy = double(roundHalfEven(kImageHeight / 2.0)); // 247
    for (int i = 0; i < kCount; ++i) {
        context.SetPen(DrawContext::Solid, 1, i % 2 == 0 ? kOrange : kLightOrange);
        const double d = kStep * i;
        context.BeginOutline();
        context.MoveTo(cx - d, cy - d);
        context.LineTo(cx - d, cy + d);
        context.LineTo(cx + d, cy + d);
        context.LineTo(cx + d, cy - d);
        context.LineTo(cx - d, cy - d);
    }
    context.SetTextColor(kCyan);
    context.DrawText(cx / 8, cy / 8, Caption());
}

} // namespace vm::tools
