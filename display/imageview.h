#pragma once

#include "display/drawcontext.h"
#include "display/grayscaler.h"
#include "link/record.h"

#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace vm::display {

// One refresh of the screen `widget` is on, in nanoseconds (60 Hz where the screen does not
// say, or says something implausible).
qint64 screenRefreshIntervalNs(const QWidget* widget);

// How the view draws the result text; the main window fills it from the preferences.
struct DisplaySettings {
    quint32 passColor = 0x00FF00; // green
    quint32 failColor = 0x0000FF; // red
    quint32 textColor = 0x1BA2FA; // orange
    bool topText = false;         // result text at the top instead of the bottom
    QFont resultFont = QFont("Arial", 19);
};

// Shows a record's image scaled to fit with its aspect kept, the result text and
// the named overlays. Images may arrive faster than the screen refreshes: the
// newest one wins and the view paints at most once per refresh.
class VxImageView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDefaultImageWidth = 659;
    static constexpr int kDefaultImageHeight = 494;
    // How close (screen pixels) a press must come to a handle to grab it.
    static constexpr int kHandleGrabRadius = 6;

    explicit VxImageView(QWidget* parent = nullptr);
    ~VxImageView() override;

    // Names the program in the empty view, before the first image arrives.
    void Initialize(const QString& programName);

    // Shows the record's image (a record without an image keeps the current one)
    // and its result text.
    void SetRecord(const vm::link::Record& record);
    void SetImage(const QImage& image);
    // Replaces the result text that SetRecord chose.
    void SetResultText(const QString& text, bool passed);
    void Clear();

    bool HasImage() const { return !m_image.isNull(); }
    const QImage& Image() const { return m_image; }
    const std::optional<vm::link::Record>& CurrentRecord() const { return m_record; }
    QString ResultText() const { return m_resultText; }
    bool ResultPassed() const { return m_resultPassed; }
    QSize ImageSize() const;

    // Overlays are shared with whoever created them: the view draws them while they
    // are added, the owner keeps their geometry after they are removed.
    void AddOverlay(const QString& name, std::shared_ptr<VxDrawObj> overlay);
    bool RemoveOverlay(const QString& name);
    std::shared_ptr<VxDrawObj> Overlay(const QString& name) const;
    QStringList OverlayNames() const;
    void ClearOverlays();

    // Display settings; while redrawing is suspended, changes are collected and
    // painted once when it resumes.
    void ApplyDisplaySettings(const DisplaySettings& settings);
    const DisplaySettings& Settings() const { return m_settings; }
    void SetPassColor(quint32 color);
    void SetFailColor(quint32 color);
    void SetTextColor(quint32 color);
    void SetTopText(bool top);
    void SetResultFont(const QFont& font);
    void SetRedraw(bool enabled);
    // Repaints the image and overlays at the next screen refresh (for overlays
    // whose content changed without a new image).
    void Refresh() { requestRepaint(); }
    bool Redraw() const { return m_redraw; }

    // The view's own region-of-interest editing: while on, dragging on the image
    // outside any overlay draws a new region.
    void SetRoiEditing(bool on);
    bool RoiEditing() const { return m_roiEditing; }
    QRect Roi() const { return m_roi; }
    void SetRoi(const QRect& roi);

    // Geometry: where the image lies in the widget and the conversions both ways.
    QRectF ImageRect() const;
    double ScaleFactor() const;
    QPointF WidgetToImage(QPointF widgetPoint) const;
    QPointF ImageToWidget(QPointF imagePoint) const;
    // The image pixel under a widget position, or nothing outside the image.
    std::optional<QPoint> PixelAt(QPointF widgetPoint) const;
    // Grey value of an image pixel, -1 without an image or outside it.
    int GrayValueAt(QPoint pixel) const;

    // Counters for the live display: images handed in, images painted, and images
    // replaced by a newer one before they reached the screen.
    quint64 ReceivedImageCount() const { return m_receivedImages; }
    quint64 PaintedImageCount() const { return m_paintedImages; }
    quint64 DroppedImageCount() const { return m_droppedImages; }
    quint64 PaintCount() const { return m_paints; }
    // Shortest time between two paints: the screen's refresh, or longer where a rate is set.
    qint64 FrameIntervalNs() const;
    // Paints at most this many images a second (0: every screen refresh that has a newer one),
    // for views that watch beside the main picture and need not cost a full refresh rate.
    void SetMaxPaintRate(double perSecond) { m_maxPaintRate = std::max(0.0, perSecond); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The mouse moved over the image; pixel is in image pixel coordinates.
    void imageMouseMove(QPoint pixel);
    // The mouse left the image (or there is no image to point at).
    void imageMouseLeave();
    // An overlay was dragged; emitted after each move.
    void overlayMoved(const QString& name);
    void roiChanged(const QRect& roi);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct NamedOverlay {
        QString name;
        std::shared_ptr<VxDrawObj> object;
    };
    enum class DragKind { None, Handle, Whole, Roi };

    void requestRepaint();
    void drawResultText(QPainter& painter, const QRectF& imageRect);
    // Outlines the located symbol in the pass or fail colour.
    void drawSymbolOutline(DrawContext& context);
    const QImage& scaledImage(const QSize& size);
    GrayScaler::Filter scaleFilter(const QSize& size) const;
    bool scaleStraightToDevice(QPainter& painter, const QRect& pictureRect);
    void setImageInternal(const QImage& image);
    VxDrawHandles* handlesOf(const QString& name) const;
    void updateHoverCursor(QPointF widgetPoint);
    bool hitHandle(QPointF widgetPoint, QString* name, int* index) const;
    QString hitInside(QPointF imagePoint) const;

    std::optional<vm::link::Record> m_record;
    QImage m_image;
    GrayScaler m_scaler;
    QImage m_scaled;
    qint64 m_scaledKey = 0;
    QSize m_scaledSize;
    bool m_imageFresh = false;
    bool m_outlineShown = false;
    QString m_resultText;
    bool m_resultPassed = false;
    QString m_programName;
    std::vector<NamedOverlay> m_overlays;
    DisplaySettings m_settings;
    bool m_redraw = true;
    bool m_dirtyWhileSuspended = false;

    bool m_roiEditing = false;
    QRect m_roi;

    DragKind m_drag = DragKind::None;
    QString m_dragName;
    int m_dragHandle = -1;
    QPointF m_dragLast;      // image point of the last applied whole-shape move
    QPointF m_dragRemainder; // movement not yet applied (whole pixels only are sent)
    QPointF m_roiStart;

    // Paint credit: one paint per screen refresh is earned as time passes, held up to
    // kPaintBurst paints. The paint rate so keeps to the refresh rate on average, while an
    // image that comes a little late for its refresh (a stream's jitter, the timer's
    // millisecond steps) is still painted instead of being dropped as stale.
    static constexpr double kPaintBurst = 2.0;
    double paintCredit(qint64 nowNs) const;
    QTimer m_frameTimer;
    QElapsedTimer m_frameClock;
    double m_credit = kPaintBurst;
    double m_maxPaintRate = 0.0;
    qint64 m_creditNs = -1;
    quint64 m_receivedImages = 0;
    quint64 m_paintedImages = 0;
    quint64 m_droppedImages = 0;
    quint64 m_paints = 0;
};

} // namespace vm::display
