#include "display/imageview.h"

#include "display/colorvalue.h"
#include "display/logging.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <limits>

namespace vm::display {

namespace {
constexpr QColor kBackground(32, 32, 32);
constexpr QColor kEmptyImage(48, 48, 48);
constexpr quint32 kRoiColor = Rgb(255, 255, 0);

QString defaultResultText(const vm::link::Record& record) {
    const auto& result = record.Result();
    if (result.SymbolFound() && !result.Text().isEmpty())
        return result.Text();
    if (!result.StatusText().isEmpty())
        return result.StatusText();
    return record.Passed() ? QStringLiteral("PASS") : QStringLiteral("NO READ");
}
} // namespace

VxImageView::VxImageView(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(tr("Image"));
    setAccessibleDescription(tr("The reader's latest image with its overlays and result text"));
    m_frameTimer.setSingleShot(true);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, [this] { update(); });
    m_frameClock.start();
}

VxImageView::~VxImageView() = default;

QSize VxImageView::sizeHint() const {
    return {kDefaultImageWidth, kDefaultImageHeight};
}
QSize VxImageView::minimumSizeHint() const {
    return {80, 60};
}

QSize VxImageView::ImageSize() const {
    return m_image.isNull() ? QSize(kDefaultImageWidth, kDefaultImageHeight) : m_image.size();
}

// ---- images and text

void VxImageView::setImageInternal(const QImage& image) {
    ++m_receivedImages;
    if (m_imageFresh)
        ++m_droppedImages; // replaced before it was painted
    m_image = image;
    m_imageFresh = true;
}

void VxImageView::SetRecord(const vm::link::Record& record) {
    m_record = record;
    if (!record.Image().IsEmpty())
        setImageInternal(record.Image().image());
    m_outlineShown = !record.Image().IsEmpty() && record.Result().SymbolFound();
    m_resultText = defaultResultText(record);
    m_resultPassed = record.Passed();
    requestRepaint();
}

void VxImageView::Initialize(const QString& programName) {
    m_programName = programName;
    requestRepaint();
}

void VxImageView::SetImage(const QImage& image) {
    if (image.isNull())
        return;
    setImageInternal(image);
    m_outlineShown = false;
    requestRepaint();
}

void VxImageView::SetResultText(const QString& text, bool passed) {
    m_resultText = text;
    m_resultPassed = passed;
    requestRepaint();
}

void VxImageView::Clear() {
    m_record.reset();
    m_outlineShown = false;
    m_image = QImage();
    m_scaled = QImage();
    m_scaledKey = 0;
    m_imageFresh = false;
    m_resultText.clear();
    requestRepaint();
}

// ---- overlays

void VxImageView::AddOverlay(const QString& name, std::shared_ptr<VxDrawObj> overlay) {
    if (!overlay)
        return;
    for (auto& entry : m_overlays) {
        if (entry.name == name) {
            entry.object = std::move(overlay);
            requestRepaint();
            return;
        }
    }
    m_overlays.push_back({name, std::move(overlay)});
    requestRepaint();
}

bool VxImageView::RemoveOverlay(const QString& name) {
    for (auto it = m_overlays.begin(); it != m_overlays.end(); ++it) {
        if (it->name == name) {
            if (m_dragName == name)
                m_drag = DragKind::None;
            m_overlays.erase(it);
            requestRepaint();
            return true;
        }
    }
    return false;
}

std::shared_ptr<VxDrawObj> VxImageView::Overlay(const QString& name) const {
    for (const auto& entry : m_overlays)
        if (entry.name == name)
            return entry.object;
    return nullptr;
}

QStringList VxImageView::OverlayNames() const {
    QStringList names;
    for (const auto& entry : m_overlays)
        names << entry.name;
    return names;
}

void VxImageView::ClearOverlays() {
    m_overlays.clear();
    m_drag = DragKind::None;
    requestRepaint();
}

VxDrawHandles* VxImageView::handlesOf(const QString& name) const {
    return dynamic_cast<VxDrawHandles*>(Overlay(name).get());
}

// ---- display settings

void VxImageView::ApplyDisplaySettings(const DisplaySettings& settings) {
    const bool wasOn = m_redraw;
    SetRedraw(false);
    SetPassColor(settings.passColor);
    SetFailColor(settings.failColor);
    SetTextColor(settings.textColor);
    SetTopText(settings.topText);
    SetResultFont(settings.resultFont);
    SetRedraw(wasOn);
}

void VxImageView::SetPassColor(quint32 color) {
    m_settings.passColor = color;
    requestRepaint();
}
void VxImageView::SetFailColor(quint32 color) {
    m_settings.failColor = color;
    requestRepaint();
}
void VxImageView::SetTextColor(quint32 color) {
    m_settings.textColor = color;
    requestRepaint();
}
void VxImageView::SetTopText(bool top) {
    m_settings.topText = top;
    requestRepaint();
}
void VxImageView::SetResultFont(const QFont& font) {
    m_settings.resultFont = font;
    requestRepaint();
}

void VxImageView::SetRedraw(bool enabled) {
    m_redraw = enabled;
    if (enabled && m_dirtyWhileSuspended) {
        m_dirtyWhileSuspended = false;
        requestRepaint();
    }
}

void VxImageView::SetRoiEditing(bool on) {
    m_roiEditing = on;
    if (!on && m_drag == DragKind::Roi)
        m_drag = DragKind::None;
    requestRepaint();
}

void VxImageView::SetRoi(const QRect& roi) {
    m_roi = roi.normalized();
    requestRepaint();
}

// ---- geometry

QRectF VxImageView::ImageRect() const {
    // The image is drawn at whole-pixel size and position, and the conversions use
    // exactly that rectangle, so a mouse position maps to the pixel drawn under it.
    const QSize image = ImageSize();
    const QRect area = contentsRect();
    if (area.isEmpty())
        return {};
    const double scale =
        std::min(double(area.width()) / image.width(), double(area.height()) / image.height());
    const int w = std::max(1, int(std::lround(image.width() * scale)));
    const int h = std::max(1, int(std::lround(image.height() * scale)));
    return QRectF(area.x() + (area.width() - w) / 2, area.y() + (area.height() - h) / 2, w, h);
}

double VxImageView::ScaleFactor() const {
    const QRectF r = ImageRect();
    return r.isEmpty() ? 1.0 : r.width() / ImageSize().width();
}

QPointF VxImageView::WidgetToImage(QPointF p) const {
    const QRectF r = ImageRect();
    if (r.isEmpty())
        return {};
    const QSize image = ImageSize();
    return {(p.x() - r.x()) * image.width() / r.width(), (p.y() - r.y()) * image.height() / r.height()};
}

QPointF VxImageView::ImageToWidget(QPointF p) const {
    const QRectF r = ImageRect();
    const QSize image = ImageSize();
    return {r.x() + p.x() * r.width() / image.width(), r.y() + p.y() * r.height() / image.height()};
}

std::optional<QPoint> VxImageView::PixelAt(QPointF widgetPoint) const {
    if (ImageRect().isEmpty())
        return std::nullopt;
    const QPointF p = WidgetToImage(widgetPoint);
    const QSize image = ImageSize();
    if (p.x() < 0 || p.y() < 0 || p.x() >= image.width() || p.y() >= image.height())
        return std::nullopt;
    return QPoint(int(std::floor(p.x())), int(std::floor(p.y())));
}

int VxImageView::GrayValueAt(QPoint pixel) const {
    if (m_image.isNull() || !m_image.rect().contains(pixel))
        return -1;
    if (m_image.format() == QImage::Format_Grayscale8)
        return m_image.constScanLine(pixel.y())[pixel.x()];
    return qGray(m_image.pixel(pixel));
}

qint64 screenRefreshIntervalNs(const QWidget* widget) {
    double rate = 60.0;
    if (const QScreen* s = widget->screen(); s && s->refreshRate() >= 20.0 && s->refreshRate() <= 500.0)
        rate = s->refreshRate();
    return qint64(1e9 / rate);
}

qint64 VxImageView::FrameIntervalNs() const {
    const qint64 refresh = screenRefreshIntervalNs(this);
    return m_maxPaintRate > 0.0 ? std::max(refresh, qint64(1e9 / m_maxPaintRate)) : refresh;
}

// ---- painting

double VxImageView::paintCredit(qint64 nowNs) const {
    if (m_creditNs < 0)
        return kPaintBurst;
    return std::min(kPaintBurst, m_credit + double(nowNs - m_creditNs) / double(FrameIntervalNs()));
}

void VxImageView::requestRepaint() {
    if (!m_redraw) {
        m_dirtyWhileSuspended = true;
        return;
    }
    if (m_frameTimer.isActive())
        return; // a paint is already booked
    // A paint up to an eighth of a refresh early goes at once: the timer's millisecond steps
    // and the event loop's latency would otherwise push it into the refresh after.
    const double wanted = 1.0 - 1.0 / 8;
    const double credit = paintCredit(m_frameClock.nsecsElapsed());
    if (credit >= wanted) {
        update();
    } else {
        const double waitNs = (wanted - credit) * double(FrameIntervalNs());
        m_frameTimer.start(int(std::ceil(waitNs / 1e6)));
    }
}

GrayScaler::Filter VxImageView::scaleFilter(const QSize& size) const {
    // Whole multiples copy pixels exactly; any other factor is filtered so the picture shows
    // no uneven pixel rows.
    const bool wholeMultiple = size.width() % m_image.width() == 0 && size.height() % m_image.height() == 0;
    return wholeMultiple ? GrayScaler::Filter::Nearest : GrayScaler::Filter::Smooth;
}

const QImage& VxImageView::scaledImage(const QSize& size) {
    if (m_scaledKey != m_image.cacheKey() || m_scaledSize != size || m_scaled.isNull()) {
        // Scale once per image and size; repaints of the same image (drags, hover)
        // then cost only a blit.
        if (m_image.format() == QImage::Format_Grayscale8) {
            m_scaler.scale(m_image, size, scaleFilter(size), m_scaled);
        } else {
            // 32-bit pixels scale on Qt's fast paths and go to the screen as a plain copy.
            QImage source = m_image.convertToFormat(QImage::Format_RGB32);
            const Qt::TransformationMode mode = scaleFilter(size) == GrayScaler::Filter::Nearest
                                                    ? Qt::FastTransformation
                                                    : Qt::SmoothTransformation;
            m_scaled = size == source.size() ? source : source.scaled(size, Qt::IgnoreAspectRatio, mode);
        }
        m_scaledKey = m_image.cacheKey();
        m_scaledSize = size;
    }
    return m_scaled;
}

bool VxImageView::scaleStraightToDevice(QPainter& painter, const QRect& pictureRect) {
    // Where the painter draws straight on the window's picture in memory (Qt's raster
    // engine on a backing store), a grey image is scaled right into it. Scaling into a
    // picture of our own and copying that across wrote every screen pixel twice more; at a
    // reader's top rate that copy cost as much as half the scaling. A repaint of the same
    // image scales it again, which costs about what the copy did.
    if (m_image.format() != QImage::Format_Grayscale8 || painter.hasClipping())
        return false;
    QPaintEngine* engine = painter.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster || !engine->paintDevice() ||
        engine->paintDevice()->devType() != QInternal::Image)
        return false;
    auto* device = static_cast<QImage*>(engine->paintDevice());
    if (device->devicePixelRatio() != 1.0 ||
        (device->format() != QImage::Format_RGB32 && device->format() != QImage::Format_ARGB32_Premultiplied))
        return false;
    const QTransform transform = painter.deviceTransform();
    if (transform.type() > QTransform::TxTranslate || transform.dx() != std::round(transform.dx()) ||
        transform.dy() != std::round(transform.dy()))
        return false;
    const QRect target = pictureRect.translated(int(transform.dx()), int(transform.dy()));
    // The system clip is what this paint may touch, in the device's pixels; none means all.
    const QRegion clip = engine->systemClip();
    const QRegion region = clip.isEmpty() ? QRegion(target) : clip.intersected(target);
    const GrayScaler::Filter filter = scaleFilter(pictureRect.size());
    for (const QRect& rect : region)
        m_scaler.scaleInto(m_image, pictureRect.size(), filter, *device, target.topLeft(),
                           rect.translated(-target.topLeft()));
    return true;
}

void VxImageView::paintEvent(QPaintEvent*) {
    // Credit counts from the paint's start, not its end: a paint's own cost must not
    // stretch the interval between refreshes.
    const qint64 now = m_frameClock.nsecsElapsed();
    // Paints the view did not book (a synchronous repaint, an exposure) spend credit too, but
    // run up no debt beyond the next refresh.
    m_credit = std::max(paintCredit(now) - 1.0, -1.0 / 8);
    m_creditNs = now;
    QPainter painter(this);
    const QRectF imageRect = ImageRect();
    // Only the bands beside the picture: the picture covers the rest.
    const QRect pictureRect(imageRect.topLeft().toPoint(), imageRect.size().toSize());
    const QRegion bands = imageRect.isEmpty() || m_image.isNull()
                              ? QRegion(rect())
                              : QRegion(rect()).subtracted(QRegion(pictureRect));
    for (const QRect& band : bands)
        painter.fillRect(band, kBackground);
    if (!imageRect.isEmpty()) {
        if (m_image.isNull()) {
            painter.fillRect(imageRect, kEmptyImage);
            if (!m_programName.isEmpty()) {
                painter.setPen(QColor(110, 110, 110));
                QFont big = font();
                big.setPointSizeF(std::max(10.0, imageRect.height() / 16.0));
                painter.setFont(big);
                painter.drawText(imageRect, Qt::AlignCenter, m_programName);
            }
        } else if (!scaleStraightToDevice(painter, pictureRect)) {
            painter.drawImage(pictureRect.topLeft(), scaledImage(pictureRect.size()));
        }

        painter.setClipRect(imageRect);
        {
            DrawContext context(painter, imageRect, ImageSize(), font());
            drawSymbolOutline(context);
            for (const auto& entry : m_overlays) {
                entry.object->Draw(context);
                context.Flush();
                if (auto* handles = dynamic_cast<VxDrawHandles*>(entry.object.get())) {
                    for (int i = 0; i < handles->NumHandles(); ++i)
                        handles->DrawHandle(context, i);
                    context.Flush();
                }
            }
            if (m_roiEditing && !m_roi.isNull()) {
                context.SetPen(DrawContext::Dash, 1, kRoiColor);
                context.Rectangle(m_roi.left(), m_roi.top(), m_roi.right() + 1, m_roi.bottom() + 1);
            }
        }
        drawResultText(painter, imageRect);
        painter.setClipping(false);
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().highlight().color(), 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    ++m_paints;
    if (m_imageFresh) {
        ++m_paintedImages;
        m_imageFresh = false;
    }
}

void VxImageView::drawSymbolOutline(DrawContext& context) {
    // Only while the shown image is the one the corners were found in.
    if (!m_record || !m_outlineShown)
        return;
    const QList<QPointF>& corners = m_record->Result().Corners();
    if (corners.size() != 4)
        return;
    context.SetPen(DrawContext::Solid, 2, m_resultPassed ? m_settings.passColor : m_settings.failColor);
    context.BeginOutline();
    context.MoveTo(corners[0].x(), corners[0].y());
    for (int i = 1; i <= 4; ++i)
        context.LineTo(corners[i % 4].x(), corners[i % 4].y());
    context.Flush();
}

void VxImageView::drawResultText(QPainter& painter, const QRectF& imageRect) {
    if (m_resultText.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setFont(m_settings.resultFont);
    const QFontMetricsF metrics(m_settings.resultFont);
    const double margin = 4.0;
    const QRectF band(imageRect.left() + margin,
                      m_settings.topText ? imageRect.top() + margin
                                         : imageRect.bottom() - margin - metrics.height() * 2,
                      imageRect.width() - 2 * margin, metrics.height() * 2);
    const QString text = metrics.elidedText(m_resultText, Qt::ElideRight, band.width());
    // The result in the pass or fail colour; below (or above, at the bottom) a
    // line in the text colour with the image number and decode time.
    QString info;
    if (m_record) {
        info = tr("Image %1").arg(m_record->Number());
        if (m_record->Result().DecodeMilliseconds() > 0.0)
            info += tr("   %1 ms").arg(m_record->Result().DecodeMilliseconds(), 0, 'f', 1);
    }
    const Qt::Alignment first = Qt::AlignLeft | (m_settings.topText ? Qt::AlignTop : Qt::AlignBottom);
    const Qt::Alignment second = Qt::AlignLeft | (m_settings.topText ? Qt::AlignBottom : Qt::AlignTop);
    painter.setPen(QColor(0, 0, 0, 160));
    painter.drawText(band.translated(1, 1), first, text);
    painter.setPen(ToQColor(m_resultPassed ? m_settings.passColor : m_settings.failColor));
    painter.drawText(band, first, text);
    if (!info.isEmpty()) {
        QFont small = m_settings.resultFont;
        small.setPointSizeF(std::max(7.0, small.pointSizeF() * 0.55));
        painter.setFont(small);
        painter.setPen(ToQColor(m_settings.textColor));
        painter.drawText(band, second, info);
    }
    painter.restore();
}

void VxImageView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    update();
}

// ---- mouse and keyboard

bool VxImageView::hitHandle(QPointF widgetPoint, QString* name, int* index) const {
    for (auto it = m_overlays.rbegin(); it != m_overlays.rend(); ++it) {
        auto* handles = dynamic_cast<VxDrawHandles*>(it->object.get());
        if (!handles)
            continue;
        for (int i = 0; i < handles->NumHandles(); ++i) {
            double x = 0, y = 0;
            int flags = 0;
            handles->GetHandle(i, x, y, flags);
            const QPointF at = ImageToWidget({x, y});
            if (std::abs(at.x() - widgetPoint.x()) <= kHandleGrabRadius &&
                std::abs(at.y() - widgetPoint.y()) <= kHandleGrabRadius) {
                *name = it->name;
                *index = i;
                return true;
            }
        }
    }
    return false;
}

QString VxImageView::hitInside(QPointF imagePoint) const {
    for (auto it = m_overlays.rbegin(); it != m_overlays.rend(); ++it) {
        auto* handles = dynamic_cast<VxDrawHandles*>(it->object.get());
        if (handles && handles->PointIsInside(imagePoint.x(), imagePoint.y()))
            return it->name;
    }
    return {};
}

void VxImageView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPointF pos = event->position();
    const QPointF imagePoint = WidgetToImage(pos);
    QString name;
    int index = -1;
    if (hitHandle(pos, &name, &index)) {
        m_drag = DragKind::Handle;
        m_dragName = name;
        m_dragHandle = index;
    } else if (name = hitInside(imagePoint); !name.isEmpty()) {
        m_drag = DragKind::Whole;
        m_dragName = name;
        m_dragLast = imagePoint;
        m_dragRemainder = {};
    } else if (m_roiEditing && PixelAt(pos)) {
        m_drag = DragKind::Roi;
        m_roiStart = imagePoint;
    } else {
        m_drag = DragKind::None;
    }
    event->accept();
}

void VxImageView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF pos = event->position();
    const QSize image = ImageSize();
    const QPointF raw = WidgetToImage(pos);
    const QPointF clamped(std::clamp(raw.x(), 0.0, double(image.width())),
                          std::clamp(raw.y(), 0.0, double(image.height())));
    switch (m_drag) {
    case DragKind::Handle:
        if (auto* handles = handlesOf(m_dragName)) {
            handles->MoveHandleTo(m_dragHandle, clamped.x(), clamped.y());
            emit overlayMoved(m_dragName);
            requestRepaint();
        }
        break;
    case DragKind::Whole:
        if (auto* handles = handlesOf(m_dragName)) {
            // Whole pixels only, keeping the fraction for the next move, so shapes
            // that store whole coordinates follow a slow mouse without drifting.
            QPointF total = m_dragRemainder + (clamped - m_dragLast);
            const QPointF step(std::trunc(total.x()), std::trunc(total.y()));
            m_dragRemainder = total - step;
            m_dragLast = clamped;
            if (!step.isNull()) {
                handles->MoveRelative(step.x(), step.y());
                emit overlayMoved(m_dragName);
                requestRepaint();
            }
        }
        break;
    case DragKind::Roi: {
        const QPoint a(int(std::floor(std::min(m_roiStart.x(), clamped.x()))),
                       int(std::floor(std::min(m_roiStart.y(), clamped.y()))));
        const QPoint b(int(std::ceil(std::max(m_roiStart.x(), clamped.x()))) - 1,
                       int(std::ceil(std::max(m_roiStart.y(), clamped.y()))) - 1);
        m_roi = QRect(a, b);
        requestRepaint();
        break;
    }
    case DragKind::None:
        updateHoverCursor(pos);
        break;
    }
    if (const auto pixel = PixelAt(pos); pixel && HasImage())
        emit imageMouseMove(*pixel);
    else
        emit imageMouseLeave();
}

void VxImageView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    if (m_drag == DragKind::Roi && m_roi.isValid())
        emit roiChanged(m_roi);
    m_drag = DragKind::None;
    updateHoverCursor(event->position());
}

void VxImageView::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    emit imageMouseLeave();
}

void VxImageView::updateHoverCursor(QPointF widgetPoint) {
    QString name;
    int index = -1;
    if (hitHandle(widgetPoint, &name, &index))
        setCursor(Qt::CrossCursor);
    else if (!hitInside(WidgetToImage(widgetPoint)).isEmpty())
        setCursor(Qt::SizeAllCursor);
    else
        unsetCursor();
}

void VxImageView::keyPressEvent(QKeyEvent* event) {
    // Arrow keys nudge the overlay the operator last grabbed (or the topmost
    // draggable one), so the overlays can be placed without a mouse.
    QPointF step;
    const double amount = (event->modifiers() & Qt::ShiftModifier) ? 10.0 : 1.0;
    switch (event->key()) {
    case Qt::Key_Left:
        step = {-amount, 0};
        break;
    case Qt::Key_Right:
        step = {amount, 0};
        break;
    case Qt::Key_Up:
        step = {0, -amount};
        break;
    case Qt::Key_Down:
        step = {0, amount};
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    QString target = m_dragName;
    if (!handlesOf(target)) {
        target.clear();
        for (auto it = m_overlays.rbegin(); it != m_overlays.rend() && target.isEmpty(); ++it)
            if (dynamic_cast<VxDrawHandles*>(it->object.get()))
                target = it->name;
    }
    if (auto* handles = handlesOf(target)) {
        m_dragName = target;
        handles->MoveRelative(step.x(), step.y());
        emit overlayMoved(target);
        requestRepaint();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace vm::display
