#include "common/readers.h"
#include "display/cameras.h"
#include "display/colorvalue.h"
#include "display/grayscaler.h"
#include "display/imageview.h"
#include "display/reportchart.h"
#include "display/reportgrid.h"
#include "display/terminal.h"
#include "display/verifyreportgrid.h"
#include "display/xtermwnd.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "shell/statusbar.h"
#include "sim/simulator.h"
#include "tools/overlays.h"

#include <QElapsedTimer>
#include <QHeaderView>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QValueAxis>

using namespace vm::display;
using vm::link::Record;
using vm::link::RecordImage;
using vm::shell::VmStatusBar;
using vm::tools::Boxes;
using vm::tools::Crosshairs;
using vm::tools::MatrixROI;
using vm::tools::SearchArea;

namespace {

QImage greyImage(int value = 128, QSize size = {659, 494}) {
    QImage image(size, QImage::Format_Grayscale8);
    image.fill(value);
    return image;
}

// Pseudo-random grey levels, the same for the same seed: every pixel differs from its neighbours.
QImage noiseImage(quint32 seed) {
    QImage image(659, 494, QImage::Format_Grayscale8);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            image.scanLine(y)[x] = uchar(seed >> 24);
        }
    return image;
}

Record makeRecord(qint64 number, bool passed, const QString& text, const QImage& image = greyImage()) {
    Record record;
    record.m_passed = passed;
    record.m_timeMs = 1'700'000'000'000 + number;
    record.m_image = RecordImage(image, number, 100, 1, true);
    record.m_result.m_symbolFound = passed;
    record.m_result.m_text = passed ? text : QString();
    record.m_result.m_statusText = passed ? QStringLiteral("GOOD READ") : QStringLiteral("NO READ");
    record.m_result.m_decodeMs = 10.0 + double(number);
    return record;
}

// A record the reader graded, with the overall grade given.
Record gradedRecord(qint64 number, bool passed, const QString& text, const QString& grade) {
    Record record = makeRecord(number, passed, text);
    record.m_verification = vm::link::VerificationResult{};
    record.m_verification->overallGrade = grade;
    return record;
}

// The view's settings with the pass, fail and info-line colours and the result font given.
DisplaySettings displaySettings(quint32 pass, quint32 fail, quint32 text = DisplaySettings{}.textColor,
                                const QFont& font = DisplaySettings{}.resultFont) {
    DisplaySettings settings;
    settings.passColor = pass;
    settings.failColor = fail;
    settings.textColor = text;
    settings.resultFont = font;
    return settings;
}

// The rectangle an overlay's edges enclose, the right and bottom edges included.
template <typename Overlay>
QRect edges(const Overlay& overlay) {
    return QRect(QPoint(overlay.Left(), overlay.Top()), QPoint(overlay.Right(), overlay.Bottom()));
}

// The colour a terminal line is written in.
QColor lineColour(const QPlainTextEdit& terminal, int line) {
    return terminal.document()->findBlockByNumber(line).begin().fragment().charFormat().foreground().color();
}

// Renders one overlay 1:1 onto a black 659 x 494 image.
QImage render(const VxDrawObj& overlay) {
    QImage image(659, 494, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    DrawContext context(painter, QRectF(0, 0, 659, 494), QSizeF(659, 494));
    overlay.Draw(context);
    context.Flush();
    if (auto* handles = dynamic_cast<const VxDrawHandles*>(&overlay))
        for (int i = 0; i < handles->NumHandles(); ++i)
            handles->DrawHandle(context, i);
    return image;
}

int countColour(const QImage& image, const QRect& area, const QColor& colour, int tolerance = 40) {
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) <= tolerance &&
                std::abs(c.green() - colour.green()) <= tolerance &&
                std::abs(c.blue() - colour.blue()) <= tolerance)
                ++n;
        }
    return n;
}

// The lit runs (dots or dashes) and the gaps between them along one row, from x0 to x1: only
// whole runs count, not those the ends of the span cut.
struct Runs {
    int shortestLit = INT_MAX, longestLit = 0, longestGap = 0;
};
Runs runsAlong(const QImage& image, int y, int x0, int x1, const QColor& colour) {
    Runs runs;
    bool wasLit = image.pixelColor(x0, y) == colour;
    int start = -1; // none whole yet
    for (int x = x0 + 1; x <= x1; ++x) {
        const bool lit = image.pixelColor(x, y) == colour;
        if (lit == wasLit)
            continue;
        if (start >= 0) {
            const int length = x - start;
            if (wasLit) {
                runs.shortestLit = std::min(runs.shortestLit, length);
                runs.longestLit = std::max(runs.longestLit, length);
            } else {
                runs.longestGap = std::max(runs.longestGap, length);
            }
        }
        start = x;
        wasLit = lit;
    }
    return runs;
}

// Shows a widget at this size as a window of its own; false when it never reaches the screen.
bool showAt(QWidget& widget, QSize size) {
    widget.resize(size);
    widget.show();
    return QTest::qWaitForWindowExposed(&widget);
}

// Counts paint events that reach a widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

} // namespace

class TestDisplay : public QObject {
    Q_OBJECT
private slots:
    void init() {
        // Any warning fails, except the offscreen platform's note about size hints.
        QTest::failOnWarning(QRegularExpression("^(?!This plugin does not support propagateSizeHints).*"));
    }

    // ---- overlays
    void searchAreaConstraints_data();
    void searchAreaConstraints();
    void searchAreaEventsAndHits();
    void matrixRoiGeometry();
    void overlaysDrawWhereExpected();

    // ---- image view
    void mouseToPixelAtTwoSizes();
    void letterboxedImageIsDrawnCentred();
    void greyPicturesScaleFaithfully();
    void windowPictureMatchesAGrab();
    void dragHandleAndShapeThroughWidget();
    void staleImagesAreDropped();
    void paintsKeepToTheRefreshRate();
    void settingsAppliedWithRedrawSuspended();
    void resultTextColourAndPlace();
    void locatedSymbolIsOutlined();
    void roiEditingDrawsRegion();

    // ---- status bar
    void statusBarCaptionsAndCounts();
    void grayFieldColours();
    void progressBounds();
    void messageFieldsRepaintOnlyOnChange();
    void longMessagesKeepTheirEnd();
    void buttonsAndEvents();
    void layoutOrder();

    // ---- grids, chart, terminal
    void reportGridRowsAreBounded();
    void reportChartTrends();
    void verifyReportGridRows();
    void reportGridPaintsLikeThePlainDelegate();
    void termWindowColouredLines();

    // ---- controls that talk to a simulated reader by themselves
    void terminalTalksToFocusedReader();
    void camerasListDiscoveredReaders();
    void camerasListUnusableNamesByAddress();
    void overviewSortsAsPeopleRead();

private:
    // One simulated reader on its own loopback address and free ports, found by
    // discovery on the simulator's own discovery port.
    std::unique_ptr<vm::sim::Simulator> startSimulator(const QString& name);
};

std::unique_ptr<vm::sim::Simulator> TestDisplay::startSimulator(const QString& name) {
    vm::sim::ReaderConfig reader = vm::testing::readerConfig(name);
    reader.commandPort = 0;
    reader.dataPort = 0;
    reader.publishSerial = false;
    qputenv("VELMARROW_STATION", "DisplayTests");
    return vm::testing::startSimulator({reader});
}

// ---------------------------------------------------------------- overlays

void TestDisplay::searchAreaConstraints_data() {
    QTest::addColumn<int>("handle"); // -1: MoveRelative
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<QRect>("expected"); // left, top, right, bottom as x1 y1 x2 y2
    QTest::addColumn<int>("startBottom");

    auto edges = [](int l, int t, int r, int b) { return QRect(QPoint(l, t), QPoint(r, b)); };
    QTest::newRow("right edge past left") << 1 << 50.0 << 100.0 << edges(100, 100, 110, 300) << 300;
    QTest::newRow("bottom-right past top-left") << 2 << 20.0 << 30.0 << edges(100, 100, 110, 110) << 300;
    QTest::newRow("top-left below bottom") << 0 << 120.0 << 400.0 << edges(120, 310, 300, 320) << 320;
    // The corner (300, 300) exempts a handle-0 move from the minimum size.
    QTest::newRow("top-left below bottom at the 300 corner")
        << 0 << 120.0 << 400.0 << edges(120, 400, 300, 300) << 300;
    QTest::newRow("bottom-left past right") << 3 << 350.0 << 200.0 << edges(290, 100, 300, 200) << 300;
    // A corner dragged past the opposite edge stays 10 away from it; that edge stays put.
    QTest::newRow("top-right below bottom") << 1 << 350.0 << 400.0 << edges(100, 290, 350, 300) << 300;
    QTest::newRow("bottom-left above top") << 3 << 50.0 << 40.0 << edges(50, 100, 300, 110) << 300;
    QTest::newRow("clamped to the image") << 2 << 700.0 << 600.0 << edges(100, 100, 658, 493) << 300;
    QTest::newRow("negative clamped to 0") << 0 << -20.0 << -5.0 << edges(0, 0, 300, 300) << 300;
    QTest::newRow("halves go to even") << 2 << 250.5 << 251.5 << edges(100, 100, 250, 252) << 300;
    QTest::newRow("handle 0 at the 300 corner") << 0 << 295.0 << 298.0 << edges(295, 298, 300, 300) << 300;
    QTest::newRow("whole area left past the edge") << -1 << -150.0 << 0.0 << edges(0, 100, 150, 300) << 300;
    QTest::newRow("whole area down past the edge") << -1 << 0.0 << 300.0 << edges(100, 400, 300, 493) << 300;
    QTest::newRow("whole area rounded") << -1 << 10.5 << 11.5 << edges(110, 112, 310, 312) << 300;
}

void TestDisplay::searchAreaConstraints() {
    QFETCH(int, handle);
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(QRect, expected);
    QFETCH(int, startBottom);
    SearchArea area;
    area.SetBottom(startBottom);
    if (handle < 0)
        area.MoveRelative(x, y);
    else
        area.MoveHandleTo(handle, x, y);
    QCOMPARE(edges(area), expected);
}

void TestDisplay::searchAreaEventsAndHits() {
    SearchArea area;
    QSignalSpy resized(&area, &SearchArea::OnResize);
    area.MoveHandleTo(2, 400, 350);
    area.MoveRelative(-10, -10);
    QCOMPARE(resized.count(), 2);
    QCOMPARE(resized.at(0), (QList<QVariant>{100, 100, 400, 350}));
    QCOMPARE(resized.at(1), (QList<QVariant>{90, 90, 390, 340}));

    // Edges count as inside; just outside does not.
    QVERIFY(area.PointIsInside(90, 90));
    QVERIFY(area.PointIsInside(390, 340));
    QVERIFY(area.PointIsInside(200, 340));
    QVERIFY(!area.PointIsInside(89.9, 200));
    QVERIFY(!area.PointIsInside(200, 340.1));

    double hx = 0, hy = 0;
    int flags = -1;
    for (auto [index, ex, ey] : {std::tuple{0, 90, 90}, {1, 390, 90}, {2, 390, 340}, {3, 90, 340}}) {
        area.GetHandle(index, hx, hy, flags);
        QCOMPARE(QPointF(hx, hy), QPointF(ex, ey));
        QCOMPARE(flags, 0);
    }
    QCOMPARE(area.NumHandles(), 4);
}

void TestDisplay::matrixRoiGeometry() {
    MatrixROI roi;
    QCOMPARE(edges(roi), QRect(QPoint(100, 100), QPoint(200, 200)));
    // Corners move freely: no clamping, no minimum size.
    roi.MoveHandleTo(2, 100.5, 99.5);
    QCOMPARE(roi.X(2), 100.5);
    QCOMPARE(roi.Right(), 100); // nearest whole number, halves to even
    QCOMPARE(roi.Bottom(), 100);
    roi.MoveHandleTo(0, -30.25, -40);
    QCOMPARE(roi.Left(), -30);
    roi.MoveRelative(10, 20);
    QCOMPARE(roi.X(1), 210.0);
    QCOMPARE(roi.Y(3), 220.0);

    // Hit test: the corners' bounding box, edges included.
    MatrixROI skew;
    skew.MoveHandleTo(0, 50, 60);
    skew.MoveHandleTo(1, 300, 80);
    skew.MoveHandleTo(2, 280, 200);
    skew.MoveHandleTo(3, 40, 190);
    QVERIFY(skew.PointIsInside(40, 60));
    QVERIFY(skew.PointIsInside(300, 200));
    QVERIFY(!skew.PointIsInside(39, 100));
    QVERIFY(!skew.PointIsInside(100, 201));

    // The bounding box starts from 1000 for the minima and 0 for the maxima.
    MatrixROI far;
    for (int i = 0; i < 4; ++i)
        far.MoveHandleTo(i, 1200 + i, -50 - i);
    QVERIFY(far.PointIsInside(1100, -10)); // min x stays 1000, max y stays 0
    QVERIFY(!far.PointIsInside(999, -10));
}

void TestDisplay::overlaysDrawWhereExpected() {
    const QColor red(255, 0, 0), orange(255, 128, 0), lightOrange(255, 192, 128), cyan(0, 255, 255),
        green(0, 255, 0);

    const QImage cross = render(Crosshairs());
    QCOMPARE(cross.pixelColor(329, 10), red);
    QCOMPARE(cross.pixelColor(329, 480), red);
    QCOMPARE(cross.pixelColor(10, 247), red);
    QCOMPARE(cross.pixelColor(650, 247), red);
    QCOMPARE(cross.pixelColor(100, 100), QColor(Qt::black));
    // Each line is one pixel wide and level (upright) from edge to edge: at both ends, its own
    // row (column) is lit and the ones beside it stay dark.
    for (const int x : {0, 2, 650, 658})
        QVERIFY2(cross.pixelColor(x, 247) == red && cross.pixelColor(x, 246) == QColor(Qt::black) &&
                     cross.pixelColor(x, 248) == QColor(Qt::black),
                 qPrintable(QString::number(x)));
    for (const int y : {0, 2, 491, 493})
        QVERIFY2(cross.pixelColor(329, y) == red && cross.pixelColor(328, y) == QColor(Qt::black) &&
                     cross.pixelColor(330, y) == QColor(Qt::black),
                 qPrintable(QString::number(y)));

    // The largest box (i = 16, even, orange) has half-size 240 around (330, 247);
    // the next (i = 15, odd) is light orange.
    const QImage boxes = render(Boxes());
    QCOMPARE(boxes.pixelColor(330 - 240, 300), orange);
    QCOMPARE(boxes.pixelColor(330 + 240, 200), orange);
    QCOMPARE(boxes.pixelColor(330 - 225, 300), lightOrange);
    QCOMPARE(boxes.pixelColor(300, 247 - 240), orange);
    QCOMPARE(boxes.pixelColor(330 - 241, 300), QColor(Qt::black));
    // The caption's text box starts at (cx / 8, cy / 8) = (41.25, 30.875): its letters begin at
    // that column and a little below that row, and none stand left of or above it.
    QRect caption;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 400; ++x)
            if (countColour(boxes, QRect(x, y, 1, 1), cyan))
                caption |= QRect(x, y, 1, 1);
    QVERIFY2(caption.width() > 60 && caption.left() >= 41 && caption.left() <= 44 && caption.top() >= 31 &&
                 caption.top() <= 36,
             qPrintable(QString("caption at %1,%2").arg(caption.left()).arg(caption.top())));

    // Search area: cyan outline, green handle squares of 4 screen pixels.
    const QImage area = render(SearchArea());
    QCOMPARE(area.pixelColor(200, 100), cyan);
    QCOMPARE(area.pixelColor(300, 200), cyan);
    QVERIFY(countColour(area, QRect(95, 95, 11, 11), green, 0) > 20);
    QCOMPARE(countColour(area, QRect(120, 120, 160, 160), cyan), 0);

    // Matrix ROI: dotted, dots no longer than two pixels with short gaps (a dashed line has
    // longer marks); its corners are filled green squares, green through their middle.
    const QImage roi = render(MatrixROI());
    const Runs dots = runsAlong(roi, 100, 110, 190, cyan);
    QVERIFY2(dots.longestLit >= 1 && dots.longestLit <= 2 && dots.longestGap >= 1 && dots.longestGap <= 3,
             qPrintable(QString("marks up to %1, gaps up to %2").arg(dots.longestLit).arg(dots.longestGap)));
    for (const QPoint corner : {QPoint(100, 100), QPoint(200, 100), QPoint(200, 200), QPoint(100, 200)}) {
        QCOMPARE(roi.pixelColor(corner), green);
        QVERIFY(countColour(roi, QRect(corner - QPoint(4, 4), QSize(9, 9)), green, 0) >= 40);
    }
}

// ---------------------------------------------------------------- image view

void TestDisplay::letterboxedImageIsDrawnCentred() {
    VxImageView view;
    QPalette palette = view.palette();
    palette.setColor(QPalette::Window, Qt::black);
    view.setPalette(palette);
    view.setAutoFillBackground(true);
    view.SetImage(greyImage(255));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    // Wider than the picture (bands left and right), then taller (bands above and below).
    for (const QSize size : {QSize(1000, 700), QSize(350, 500)}) {
        view.resize(size);
        QTRY_COMPARE(view.size(), size);
        const QImage shot = view.grab().toImage().convertToFormat(QImage::Format_Grayscale8);
        auto span = [&](bool across) {
            const int length = across ? shot.width() : shot.height();
            int first = -1, last = -1;
            for (int i = 0; i < length; ++i) {
                const int grey =
                    across ? qGray(shot.pixel(i, shot.height() / 2)) : qGray(shot.pixel(shot.width() / 2, i));
                if (grey > 200) {
                    if (first < 0)
                        first = i;
                    last = i;
                }
            }
            return std::pair{first, length - 1 - last};
        };
        const auto [left, right] = span(true);
        const auto [top, bottom] = span(false);
        QVERIFY2(left >= 0 && top >= 0, "the picture was not drawn");
        QVERIFY2(std::abs(left - right) <= 1 && std::abs(top - bottom) <= 1,
                 qPrintable(QString("bands %1 %2 %3 %4").arg(left).arg(right).arg(top).arg(bottom)));
        QVERIFY2(std::max(left, top) > 20, "the picture should leave bands on one side");
        QVERIFY(std::min(left, top) <= 1);
        const QRectF r = view.ImageRect();
        QVERIFY(std::abs(r.left() - left) <= 1 && std::abs(r.top() - top) <= 1);
    }
}

void TestDisplay::mouseToPixelAtTwoSizes() {
    {
        // Without a picture there is no pixel under the mouse: the cursor field stays empty.
        VxImageView empty;
        QVERIFY(showAt(empty, {659, 494}));
        QSignalSpy moved(&empty, &VxImageView::imageMouseMove);
        QSignalSpy left(&empty, &VxImageView::imageMouseLeave);
        QTest::mouseMove(&empty, QPoint(300, 200));
        QTRY_VERIFY(!left.isEmpty());
        QVERIFY(moved.isEmpty());
    }
    VxImageView view;
    view.SetImage(greyImage());
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QSignalSpy moved(&view, &VxImageView::imageMouseMove);
    QSignalSpy left(&view, &VxImageView::imageMouseLeave);

    for (const QSize size : {QSize(659, 494), QSize(1000, 700), QSize(350, 500)}) {
        view.resize(size);
        QTRY_COMPARE(view.size(), size);
        const QRectF r = view.ImageRect();
        // The image keeps its aspect and touches two opposite sides.
        QVERIFY(qFuzzyCompare(r.width() / r.height(), 659.0 / 494.0) ||
                std::abs(r.width() / r.height() - 659.0 / 494.0) < 0.01);
        QVERIFY(qFuzzyCompare(r.width(), double(size.width())) ||
                qFuzzyCompare(r.height(), double(size.height())));
        for (const QPoint pixel : {QPoint(0, 0), QPoint(658, 493), QPoint(329, 247), QPoint(17, 402)}) {
            const QPointF centre = view.ImageToWidget(QPointF(pixel) + QPointF(0.5, 0.5));
            QCOMPARE(view.PixelAt(centre), std::optional<QPoint>(pixel));
        }
        QVERIFY(!view.PixelAt(r.topLeft() - QPointF(0.5, 0.5)));
        QVERIFY(!view.PixelAt(r.bottomRight() + QPointF(0.01, 0.01)));

        // Through real mouse events.
        moved.clear();
        const QPoint at = view.ImageToWidget(QPointF(100.5, 200.5)).toPoint();
        QTest::mouseMove(&view, at);
        QTRY_VERIFY(!moved.isEmpty());
        const QPoint reported = moved.last().at(0).toPoint();
        const QPointF back = view.WidgetToImage(at);
        QCOMPARE(reported, QPoint(int(back.x()), int(back.y())));
        QVERIFY(std::abs(reported.x() - 100) <= 1 && std::abs(reported.y() - 200) <= 1);
    }
    // At 2x every widget pixel maps exactly.
    view.resize(1318, 988);
    QTRY_COMPARE(view.ScaleFactor(), 2.0);
    QCOMPARE(view.PixelAt(QPointF(0, 0)), std::optional<QPoint>(QPoint(0, 0)));
    QCOMPARE(view.PixelAt(QPointF(3, 5)), std::optional<QPoint>(QPoint(1, 2)));
    QCOMPARE(view.PixelAt(QPointF(1317, 987)), std::optional<QPoint>(QPoint(658, 493)));
    QCOMPARE(view.GrayValueAt(QPoint(5, 5)), 128);
    QCOMPARE(view.GrayValueAt(QPoint(659, 5)), -1);
}

void TestDisplay::greyPicturesScaleFaithfully() {
    using vm::display::GrayScaler;
    GrayScaler scaler;
    QImage out;
    auto grey = [&](int x, int y) { return qGray(out.pixel(x, y)); };

    // An even grey stays exactly that grey at any size: the filter weights add up to one.
    for (const QSize size : {QSize(864, 648), QSize(300, 225), QSize(1318, 988), QSize(7, 5)}) {
        scaler.scale(greyImage(137), size, GrayScaler::Filter::Smooth, out);
        QCOMPARE(out.size(), size);
        QCOMPARE(out.format(), QImage::Format_RGB32);
        for (int y = 0; y < size.height(); y += 3)
            for (int x = 0; x < size.width(); x += 3)
                QVERIFY2(out.pixel(x, y) == qRgb(137, 137, 137),
                         qPrintable(QString("%1x%2 at %3,%4: %5")
                                        .arg(size.width())
                                        .arg(size.height())
                                        .arg(x)
                                        .arg(y)
                                        .arg(out.pixel(x, y), 0, 16)));
    }

    // A whole multiple turns each source pixel into an exact block.
    QImage ramp(256, 4, QImage::Format_Grayscale8);
    for (int y = 0; y < ramp.height(); ++y)
        for (int x = 0; x < ramp.width(); ++x)
            ramp.scanLine(y)[x] = uchar(x);
    scaler.scale(ramp, QSize(768, 8), GrayScaler::Filter::Nearest, out);
    for (int x = 0; x < 768; ++x)
        QCOMPARE(grey(x, 7), x / 3);

    // Shrinking averages what each screen pixel covers: a one-pixel checkerboard becomes
    // an even mid grey, not a coarser checkerboard.
    QImage checks(400, 300, QImage::Format_Grayscale8);
    for (int y = 0; y < checks.height(); ++y)
        for (int x = 0; x < checks.width(); ++x)
            checks.scanLine(y)[x] = (x + y) % 2 ? 255 : 0;
    // Where a screen pixel covers a part of a source pixel, the part counts: the picture keeps
    // its mean and shows no pattern of whole source pixels.
    for (const auto& [size, spread] :
         {std::pair{QSize(200, 150), 1}, {QSize(100, 75), 1}, {QSize(160, 120), 40}}) {
        scaler.scale(checks, size, GrayScaler::Filter::Smooth, out);
        qint64 total = 0;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                QVERIFY2(std::abs(grey(x, y) - 128) <= spread,
                         qPrintable(QString("%1,%2 is %3").arg(x).arg(y).arg(grey(x, y))));
                total += grey(x, y);
            }
        QVERIFY(std::abs(double(total) / (size.width() * size.height()) - 127.5) < 2);
    }

    // Enlarging draws a smooth ramp that keeps its ends and never steps back, and the
    // same picture at another size reuses nothing stale.
    scaler.scale(ramp, QSize(640, 10), GrayScaler::Filter::Smooth, out);
    QCOMPARE(grey(0, 5), 0);
    QCOMPARE(grey(639, 5), 255);
    int largestStep = 0;
    for (int x = 1; x < 640; ++x) {
        QVERIFY(grey(x, 5) >= grey(x - 1, 5));
        largestStep = std::max(largestStep, grey(x, 5) - grey(x - 1, 5));
    }
    QVERIFY2(largestStep <= 1, "an enlarged ramp shows steps");
    const QImage qtScaled = ramp.convertToFormat(QImage::Format_RGB32)
                                .scaled(QSize(640, 10), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    for (int x = 0; x < 640; ++x)
        QVERIFY2(std::abs(grey(x, 5) - qGray(qtScaled.pixel(x, 5))) <= 2, qPrintable(QString::number(x)));

    // Enlarging keeps each source pixel's centre where it was, so the picture does not shift:
    // four quadrants, black and white crosswise, come out as dark as they are light across
    // either middle line (a shift of half a source pixel moves the edges by whole screen pixels).
    QImage quadrants(10, 6, QImage::Format_Grayscale8);
    for (int y = 0; y < quadrants.height(); ++y)
        for (int x = 0; x < quadrants.width(); ++x)
            quadrants.scanLine(y)[x] = (x >= 5) != (y >= 3) ? 255 : 0;
    for (const QSize size : {QSize(64, 40), QSize(33, 17)}) {
        scaler.scale(quadrants, size, GrayScaler::Filter::Smooth, out);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const int across = grey(x, y) + grey(size.width() - 1 - x, y);
                const int down = grey(x, y) + grey(x, size.height() - 1 - y);
                QVERIFY2(std::abs(across - 255) <= 1 && std::abs(down - 255) <= 1,
                         qPrintable(QString("%1x%2 at %3,%4: %5 %6")
                                        .arg(size.width())
                                        .arg(size.height())
                                        .arg(x)
                                        .arg(y)
                                        .arg(across)
                                        .arg(down)));
            }
    }

    // The vector code and the plain code give the same pixels, for enlarging, for shrinking a
    // little (gathered eight at a time) and a lot (partly the plain way), and for widths that
    // leave a few pixels over.
    const QImage noise = noiseImage(12345u);
    GrayScaler plain;
    plain.setInstructions(GrayScaler::Instructions::Plain);
    QImage expected;
    for (const auto set : {GrayScaler::Instructions::Ssse3, GrayScaler::Instructions::Avx2}) {
        if (set > GrayScaler::best()) {
            qInfo("this processor has no %s", set == GrayScaler::Instructions::Avx2 ? "AVX2" : "SSSE3");
            continue;
        }
        GrayScaler vector;
        vector.setInstructions(set);
        for (const QSize size :
             {QSize(864, 648), QSize(867, 651), QSize(500, 371), QSize(203, 150), QSize(61, 45)}) {
            vector.scale(noise, size, GrayScaler::Filter::Smooth, out);
            plain.scale(noise, size, GrayScaler::Filter::Smooth, expected);
            QVERIFY2(out == expected,
                     qPrintable(QString("%1x%2 with %3")
                                    .arg(size.width())
                                    .arg(size.height())
                                    .arg(set == GrayScaler::Instructions::Avx2 ? "AVX2" : "SSSE3")));
        }
    }
}

void TestDisplay::windowPictureMatchesAGrab() {
    // On screen a grey picture is scaled straight into the window's picture; other devices get
    // it scaled apart and copied. Both must show the same, at the view's place in its window,
    // and a repaint of a part must leave what is drawn over the rest alone.
    const QImage noise = noiseImage(777u);
    QWidget window;
    window.resize(900, 700);
    auto* view = new VxImageView(&window);
    view->setGeometry(37, 21, 760, 560); // enlarged by a factor that is not whole
    view->SetImage(noise);
    auto area = std::make_shared<SearchArea>();
    area->SetColor(Rgb(255, 0, 0));
    view->AddOverlay("Search Area", area);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(view->PaintCount() > 0);

    const auto onScreen = [&] {
        return window.screen()
            ->grabWindow(window.winId())
            .toImage()
            .copy(view->geometry())
            .convertToFormat(QImage::Format_RGB32);
    };
    // A picture of another format takes the other way.
    QImage expected(view->size(), QImage::Format_RGB888);
    view->render(&expected);
    expected = expected.convertToFormat(QImage::Format_RGB32);
    QTRY_COMPARE(onScreen(), expected);

    // A repaint of a corner away from the overlay: the overlay's outline stays on screen.
    const quint64 paints = view->PaintCount();
    view->repaint(QRect(500, 380, 120, 90));
    QCOMPARE(view->PaintCount(), paints + 1);
    QCOMPARE(onScreen(), expected);
}

void TestDisplay::dragHandleAndShapeThroughWidget() {
    VxImageView view;
    view.SetImage(greyImage());
    QVERIFY(showAt(view, {1318, 988})); // 2 screen pixels per image pixel
    QTRY_COMPARE(view.ScaleFactor(), 2.0);
    auto area = std::make_shared<SearchArea>();
    auto roi = std::make_shared<MatrixROI>();
    roi->MoveRelative(300, 150); // (400,250)-(500,350), apart from the search area
    view.AddOverlay("Search Area", area);
    view.AddOverlay("Matrix ROI", roi);
    QCOMPARE(view.OverlayNames(), (QStringList{"Search Area", "Matrix ROI"}));
    // Before anything is grabbed, the arrows nudge the topmost overlay, the matrix ROI.
    const double roiLeft = roi->X(0);
    const int areaLeft = area->Left();
    QTest::keyClick(&view, Qt::Key_Right);
    QCOMPARE(QPointF(roi->X(0), area->Left()), QPointF(roiLeft + 1, areaLeft));
    QTest::keyClick(&view, Qt::Key_Left);
    QCOMPARE(roi->X(0), roiLeft);
    QSignalSpy resized(area.get(), &SearchArea::OnResize);
    QSignalSpy moved(&view, &VxImageView::overlayMoved);

    auto widgetAt = [&](double x, double y) { return view.ImageToWidget({x, y}).toPoint(); };

    // Grab the bottom-right handle (a couple of screen pixels off) and drag it.
    QTest::mousePress(&view, Qt::LeftButton, {}, widgetAt(300, 300) + QPoint(3, -2));
    QTest::mouseMove(&view, widgetAt(350, 260));
    QTest::mouseMove(&view, widgetAt(420, 380));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, widgetAt(420, 380));
    QCOMPARE(edges(*area), QRect(QPoint(100, 100), QPoint(420, 380)));
    QVERIFY(resized.count() >= 2);
    QCOMPARE(moved.last().at(0).toString(), QString("Search Area"));

    // Grab inside and move the whole area; a slow drag in half pixels adds up.
    QTest::mousePress(&view, Qt::LeftButton, {}, widgetAt(200, 200));
    for (int step = 1; step <= 10; ++step)
        QTest::mouseMove(&view,
                         widgetAt(200, 200) + QPoint(step, step * 2)); // 0.5 and 1 image pixel per step
    QTest::mouseRelease(&view, Qt::LeftButton, {}, widgetAt(200, 200) + QPoint(10, 20));
    QCOMPARE(edges(*area), QRect(QPoint(105, 110), QPoint(425, 390)));

    // The matrix ROI is on top: a handle moves to the mouse exactly (doubles).
    QTest::mousePress(&view, Qt::LeftButton, {}, widgetAt(500, 350));
    QTest::mouseMove(&view, QPoint(1101, 801));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(1101, 801));
    QCOMPARE(roi->X(2), 550.5);
    QCOMPARE(roi->Y(2), 400.5);
    QCOMPARE(roi->X(0), 400.0);

    // Dragging a handle past the image edge stops at the edge.
    QTest::mousePress(&view, Qt::LeftButton, {}, widgetAt(400, 250));
    QTest::mouseMove(&view, QPoint(-40, -40));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(-40, -40));
    QCOMPARE(QPointF(roi->X(0), roi->Y(0)), QPointF(0, 0));

    // A press outside every shape moves nothing.
    resized.clear();
    QTest::mousePress(&view, Qt::LeftButton, {}, widgetAt(620, 30));
    QTest::mouseMove(&view, widgetAt(640, 40));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, widgetAt(640, 40));
    QCOMPARE(resized.count(), 0);

    // Keyboard: arrows nudge the overlay last grabbed.
    const double before = roi->X(1);
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(roi->X(1), before + 10);

    // Past the bottom-right corner a handle stops at the image's width and at its height.
    QTest::mousePress(&view, Qt::LeftButton, {}, widgetAt(roi->X(2), roi->Y(2)));
    QTest::mouseMove(&view, QPoint(1400, 1300)); // (700, 650) in image pixels
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(1400, 1300));
    QCOMPARE(QPointF(roi->X(2), roi->Y(2)), QPointF(659, 494));

    QVERIFY(view.RemoveOverlay("Matrix ROI"));
    QVERIFY(!view.RemoveOverlay("Matrix ROI"));
    QCOMPARE(view.OverlayNames(), QStringList{"Search Area"});

    // Grabbed without moving, the search area takes one pixel per arrow, each its own way.
    QTest::mouseClick(&view, Qt::LeftButton, {}, widgetAt(105, 110));
    const QRect start(QPoint(105, 110), QPoint(425, 390));
    QCOMPARE(edges(*area), start);
    for (auto [key, dx, dy] : {std::tuple{Qt::Key_Up, 0, -1},
                               {Qt::Key_Left, -1, -1},
                               {Qt::Key_Down, -1, 0},
                               {Qt::Key_Right, 0, 0}}) {
        QTest::keyClick(&view, key);
        QCOMPARE(edges(*area), start.translated(dx, dy));
    }
}

void TestDisplay::staleImagesAreDropped() {
    VxImageView view;
    QVERIFY(showAt(view, {660, 500}));
    QTRY_VERIFY(view.PaintCount() > 0);
    const quint64 paintsBefore = view.PaintCount();
    for (int i = 1; i <= 5; ++i)
        view.SetRecord(makeRecord(i, i % 2 == 0, QString("CODE %1").arg(i), greyImage(20 * i)));
    QCOMPARE(view.DroppedImageCount(), quint64(4));
    QTRY_COMPARE(view.PaintedImageCount(), quint64(1));
    QCOMPARE(view.CurrentRecord()->Number(), qint64(5));
    QCOMPARE(view.ResultText(), QString("NO READ"));
    // The newest image is the one on screen.
    const QImage shot = view.grab().toImage();
    QCOMPARE(qGray(shot.pixel(view.ImageToWidget({20, 20}).toPoint())), 100);
    QVERIFY(view.PaintCount() > paintsBefore);

    // A record without an image keeps the image and changes the text.
    Record textOnly = makeRecord(6, true, "ABC");
    textOnly.m_image = RecordImage();
    view.SetRecord(textOnly);
    QVERIFY(view.HasImage());
    QCOMPARE(view.ResultText(), QString("ABC"));
    QCOMPARE(view.ReceivedImageCount(), quint64(5));
    // Neither text nor status: the verdict alone, a failure as a no read.
    for (bool passed : {false, true}) {
        Record bare = makeRecord(7 + passed, passed, QString());
        bare.m_result.m_statusText.clear();
        view.SetRecord(bare);
        QCOMPARE(view.ResultText(), passed ? QString("PASS") : QString("NO READ"));
    }
}

// Images handed in far faster than the screen refreshes: each refresh paints the newest one,
// never more than one paint per refresh, and every image not painted is counted as dropped.
void TestDisplay::paintsKeepToTheRefreshRate() {
    VxImageView view;
    QVERIFY(showAt(view, {660, 500}));
    QTRY_VERIFY(view.PaintCount() > 0);
    const QImage images[2] = {greyImage(60), greyImage(180)};
    // Paints the view did not book (a hundred synchronous repaints: 1.7 s of refreshes) do
    // not hold back the next image.
    for (int i = 0; i < 100; ++i)
        view.repaint();
    const quint64 beforeRepaints = view.PaintedImageCount();
    view.SetRecord(makeRecord(100, true, "AFTER", images[1]));
    QTRY_VERIFY_WITH_TIMEOUT(view.PaintedImageCount() > beforeRepaints, 1000);
    int handed = 0;
    QTimer feeder;
    feeder.setInterval(0);
    connect(&feeder, &QTimer::timeout, &view, [&] {
        view.SetRecord(makeRecord(handed + 1, true, "FEED", images[handed % 2]));
        ++handed;
    });
    const quint64 received0 = view.ReceivedImageCount(), painted0 = view.PaintedImageCount(),
                  dropped0 = view.DroppedImageCount();
    QElapsedTimer took;
    took.start();
    feeder.start();
    QTRY_VERIFY_WITH_TIMEOUT(view.PaintedImageCount() >= painted0 + 12, 20000);
    feeder.stop();
    const qint64 elapsedNs = took.nsecsElapsed();
    const quint64 painted = view.PaintedImageCount() - painted0;
    const quint64 received = view.ReceivedImageCount() - received0;
    // One paint per refresh, and a burst of two after a pause, less the early margin.
    QVERIFY2(double(painted) <= double(elapsedNs) / double(view.FrameIntervalNs()) + 2.2,
             qPrintable(QString("%1 paints in %2 ms").arg(painted).arg(elapsedNs / 1e6)));
    QVERIFY(received > painted * 2);
    // Every image handed in is painted, dropped, or the one still waiting for its refresh.
    const quint64 dropped = view.DroppedImageCount() - dropped0;
    QVERIFY(received == painted + dropped || received == painted + dropped + 1);
    // The last image handed in reaches the screen.
    QTRY_COMPARE(view.DroppedImageCount() - dropped0 + view.PaintedImageCount() - painted0, received);
    const QImage shot = view.grab().toImage();
    QCOMPARE(qGray(shot.pixel(view.ImageToWidget({20, 20}).toPoint())), handed % 2 ? 60 : 180);
}

void TestDisplay::settingsAppliedWithRedrawSuspended() {
    VxImageView view;
    QVERIFY(showAt(view, {400, 300}));
    QTRY_VERIFY(view.PaintCount() > 0);
    PaintCounter paints(&view);

    view.SetRedraw(false);
    view.SetPassColor(Rgb(1, 2, 3));
    view.SetTopText(true);
    QCoreApplication::processEvents();
    QCOMPARE(paints.count, 0);
    view.SetRedraw(true);
    QTRY_COMPARE(paints.count, 1);

    DisplaySettings settings = displaySettings(Rgb(0, 200, 0), Rgb(200, 0, 0), Rgb(0, 0, 255),
                                               QFont("DejaVu Sans", 14, QFont::Bold));
    settings.topText = true;
    view.ApplyDisplaySettings(settings);
    QTRY_COMPARE(paints.count, 2);
    QCoreApplication::processEvents();
    QCOMPARE(paints.count, 2);
    QVERIFY(view.Redraw()); // drawing is on again once they are applied
}

void TestDisplay::resultTextColourAndPlace() {
    VxImageView view;
    view.resize(659, 494);
    DisplaySettings settings = displaySettings(Rgb(0, 255, 0), Rgb(255, 0, 0), Rgb(0, 0, 255),
                                               QFont("DejaVu Sans", 20, QFont::Bold));
    view.ApplyDisplaySettings(settings);
    const QImage black = greyImage(0);
    const QRect topBand(0, 0, 659, 100), bottomBand(0, 394, 659, 100);

    view.SetRecord(makeRecord(1, true, "PASSCODE", black));
    QImage shot = view.grab().toImage();
    QVERIFY(countColour(shot, bottomBand, QColor(0, 255, 0)) > 50);
    QCOMPARE(countColour(shot, topBand, QColor(0, 255, 0)), 0);
    QCOMPARE(countColour(shot, shot.rect(), QColor(255, 0, 0)), 0);
    QVERIFY(countColour(shot, bottomBand, QColor(0, 0, 255)) > 10); // info line in the text colour

    // The operator's preference puts the result text at the top.
    settings.topText = true;
    view.ApplyDisplaySettings(settings);
    view.SetRecord(makeRecord(2, false, QString(), black));
    shot = view.grab().toImage();
    QVERIFY(countColour(shot, topBand, QColor(255, 0, 0)) > 50);
    QCOMPARE(countColour(shot, bottomBand, QColor(255, 0, 0)), 0);
    QCOMPARE(countColour(shot, shot.rect(), QColor(0, 255, 0)), 0);

    view.Clear();
    QVERIFY(!view.HasImage());
    QVERIFY(view.ResultText().isEmpty());
}

void TestDisplay::locatedSymbolIsOutlined() {
    VxImageView view;
    QVERIFY(showAt(view, {659, 494}));
    view.ApplyDisplaySettings(displaySettings(Rgb(0, 255, 0), Rgb(255, 0, 0)));
    Record record = makeRecord(1, true, "CODE", greyImage(0));
    record.m_result.m_corners = {QPointF(200, 100), QPointF(400, 100), QPointF(400, 300), QPointF(200, 300)};
    view.SetRecord(record);
    const QRect leftEdge(195, 150, 10, 100);
    QImage shot = view.grab().toImage();
    QVERIFY(countColour(shot, leftEdge, QColor(0, 255, 0)) > 50);

    // A record without its image keeps the old picture, so its corners are not drawn on it.
    Record reportOnly = record;
    reportOnly.m_image = RecordImage(QImage(), 2, 100, 1, true);
    reportOnly.m_result.m_corners = {QPointF(10, 10), QPointF(60, 10), QPointF(60, 60), QPointF(10, 60)};
    view.SetRecord(reportOnly);
    shot = view.grab().toImage();
    QCOMPARE(countColour(shot, leftEdge, QColor(0, 255, 0)), 0);
    QCOMPARE(countColour(shot, QRect(5, 20, 10, 30), QColor(0, 255, 0)), 0);
}

void TestDisplay::roiEditingDrawsRegion() {
    VxImageView view;
    view.SetImage(greyImage());
    QVERIFY(showAt(view, {1318, 988}));
    QTRY_COMPARE(view.ScaleFactor(), 2.0);
    QSignalSpy changed(&view, &VxImageView::roiChanged);

    // Off: dragging on an empty image does nothing.
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseMove(&view, QPoint(300, 200));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(300, 200));
    QCOMPARE(changed.count(), 0);

    view.SetRoiEditing(true);
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseMove(&view, QPoint(300, 200));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(300, 200));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(view.Roi(), QRect(QPoint(50, 50), QPoint(149, 99)));
    // Drawn as a yellow dashed outline (unlike the dotted matrix ROI): dashes longer than the
    // gaps between them, along its top edge at widget row 100.
    const Runs dashes = runsAlong(view.grab().toImage(), 100, 110, 290, QColor(255, 255, 0));
    QVERIFY2(
        dashes.shortestLit >= 3 && dashes.longestGap >= 1 && dashes.longestGap < dashes.shortestLit,
        qPrintable(QString("dashes from %1, gaps up to %2").arg(dashes.shortestLit).arg(dashes.longestGap)));
}

// ---------------------------------------------------------------- status bar

void TestDisplay::statusBarCaptionsAndCounts() {
    VmStatusBar bar;
    auto label = [&](const char* name) { return bar.findChild<QLabel*>(name); };
    QCOMPARE(label("TotalLabel")->text(), QString("Total"));
    QCOMPARE(label("PassLabel")->text(), QString("Pass"));
    QCOMPARE(label("FailLabel")->text(), QString("Fail"));
    QCOMPARE(label("CursorLabel")->text(), QString("Cursor"));
    QVERIFY(!bar.WaitingForTrigger());
    QVERIFY(!bar.ProgressVisible());

    bar.SetCounts(12, 10, 2);
    QCOMPARE(label("TotalField")->text(), QString("12"));
    QCOMPARE(label("FailField")->text(), QString("2"));
    bar.SetCounts(-1, 2147483647, 0);
    QCOMPARE(label("PassField")->text(), QString("2147483647"));
    bar.SetCounts(7, 5, 2);
    bar.ClearCounts();
    for (const char* field : {"TotalField", "PassField", "FailField"})
        QVERIFY2(label(field)->text().isEmpty(), field);
    // Coloured fields go back to the window's own background.
    bar.SetCountColors(Rgb(128, 255, 128), Rgb(255, 255, 128), Rgb(255, 128, 128));
    bar.SetCountColors(kWindowBackground, kWindowBackground, Rgb(255, 128, 128));
    QCOMPARE(label("TotalField")->palette().color(QPalette::Window), bar.palette().color(QPalette::Window));

    bar.SetCursorPos(12, 345);
    QCOMPARE(label("CursorField")->text(), QString("12,345"));
}

void TestDisplay::grayFieldColours() {
    VmStatusBar bar;
    QLabel* gray = bar.findChild<QLabel*>("GrayField");
    QLabel* cursor = bar.findChild<QLabel*>("CursorField");

    // The grey under the cursor on its own grey, in white up to 140 and in black from 141.
    for (const int value : {140, 141, 0, 255}) {
        bar.SetGrayVal(value);
        QCOMPARE(gray->text(), QString::number(value));
        QCOMPARE(gray->palette().color(QPalette::Window), QColor(value, value, value));
        QCOMPARE(gray->palette().color(QPalette::WindowText), QColor(value > 140 ? Qt::black : Qt::white));
    }

    // Cleared only when the cursor field shows something.
    bar.ClearCursorInfo();
    QCOMPARE(gray->text(), QString("255"));
    bar.SetCursorPos(1, 2);
    bar.ClearCursorInfo();
    QVERIFY(gray->text().isEmpty());
    QVERIFY(cursor->text().isEmpty());
    QVERIFY(!gray->autoFillBackground());
}

void TestDisplay::progressBounds() {
    VmStatusBar bar;
    QVERIFY(showAt(bar, {1000, 30}));
    auto* progress = bar.findChild<QProgressBar*>("Progress");
    QLabel* status = bar.findChild<QLabel*>("Info1");
    QVERIFY(!progress->isVisible());

    bar.ShowProgress(true);
    QVERIFY(progress->isVisible());
    QVERIFY(!status->isVisible());
    QCOMPARE(progress->geometry(), status->geometry()); // in the status message's place
    // A percentage outside 0 to 100 leaves the bar as it was.
    for (const auto& [set, shown] : {std::pair{50, 50}, {101, 50}, {-1, 50}, {100, 100}, {0, 0}}) {
        bar.SetProgressPercent(set);
        QCOMPARE(bar.ProgressPercent(), shown);
    }
    bar.SetProgressPercent(70);
    bar.ShowProgress(false);
    QCOMPARE(bar.ProgressPercent(), 0);
    QVERIFY(!progress->isVisible());
    QVERIFY(status->isVisible());
}

void TestDisplay::messageFieldsRepaintOnlyOnChange() {
    VmStatusBar bar;
    QVERIFY(showAt(bar, {1000, 30}));
    QLabel* info = bar.findChild<QLabel*>("Info2");
    QLabel* status = bar.findChild<QLabel*>("Info1");
    QCoreApplication::processEvents();
    PaintCounter infoPaints(info);

    bar.SetInfoMsg("Image saved", Rgb(0, 0, 0), Rgb(255, 255, 255));
    QCOMPARE(infoPaints.count, 1); // painted at once, not on the next event loop turn
    QCoreApplication::processEvents();
    const int afterFirst = infoPaints.count;
    bar.SetInfoMsg("Image saved", Rgb(0, 0, 0), Rgb(255, 255, 255));
    QCoreApplication::processEvents();
    QCOMPARE(infoPaints.count, afterFirst);
    QCOMPARE(bar.InfoMsgText(), QString("Image saved "));
    QCOMPARE(info->palette().color(QPalette::Window), QColor(255, 255, 255));

    // A different colour alone is a change.
    bar.SetInfoMsg("Image saved", Rgb(0, 0, 0), Rgb(255, 128, 128));
    QCOMPARE(infoPaints.count, afterFirst + 1);
    QCOMPARE(info->palette().color(QPalette::Window), QColor(255, 128, 128));

    bar.SetStatusMsg("a\r\nb", Rgb(0, 0, 0), Rgb(255, 255, 255));
    QCOMPARE(bar.StatusMsgText(), QString("a b "));
    QCOMPARE(status->text(), QString("a b "));
    bar.SetStatusMsg("one\r\ntwo\r\nthree", Rgb(0, 0, 0), Rgb(255, 255, 255));
    QCOMPARE(bar.StatusMsgText(), QString("one two three "));
}

void TestDisplay::longMessagesKeepTheirEnd() {
    VmStatusBar bar;
    QVERIFY(showAt(bar, {1400, 30}));
    QLabel* info = bar.findChild<QLabel*>("Info2");
    const QString path = "Image saved as /srv/velmarrow/images/of/the/night/shift/Line3_000000042.tif";
    // Alone, a message has the whole free row, not half of it.
    bar.SetInfoMsg(path, Rgb(0, 0, 0), Rgb(255, 255, 255));
    QCOMPARE(bar.InfoMsgText(), path + " ");
    QVERIFY2(info->width() >= info->fontMetrics().horizontalAdvance(path),
             qPrintable(QString::number(info->width())));
    QCOMPARE(info->text(), path + " ");
    // Squeezed, it loses its middle and keeps the file name; the tooltip has it all.
    bar.resize(960, 30);
    QTRY_VERIFY(info->fontMetrics().horizontalAdvance(info->text()) <= info->width());
    QVERIFY2(info->text().endsWith("Line3_000000042.tif "), qPrintable(info->text()));
    QVERIFY(info->text().startsWith("Image"));
    QCOMPARE(info->toolTip(), path);
    QCOMPARE(bar.InfoMsgText(), path + " ");
    // The counters' values reach assistive tools with their captions.
    bar.SetCounts(12, 10, 2);
    QCOMPARE(bar.findChild<QLabel*>("PassField")->accessibleName(), QString("Pass 10"));
    bar.SetCountLabels("Good", "Fair", "Poor");
    QCOMPARE(bar.findChild<QLabel*>("FailField")->accessibleName(), QString("Poor 2"));
}

void TestDisplay::buttonsAndEvents() {
    VmStatusBar bar;
    QVERIFY(showAt(bar, {1000, 30}));
    QCOMPARE(bar.ButtonImageKey("beep"), QString("beep_inactive"));
    bar.SetButtonState("laser", true, true);
    QCOMPARE(bar.ButtonImageKey("laser"), QString("laser_option"));
    bar.SetButtonState("laser", true);
    QCOMPARE(bar.ButtonImageKey("laser"), QString("laser_active"));
    bar.SetButtonState("beep", false);
    QCOMPARE(bar.ButtonImageKey("beep"), QString("beep_inactive"));
    bar.SetButtonState("beep", false, true);
    QCOMPARE(bar.ButtonImageKey("beep"), QString("beep_inactive"));
    bar.SetButtonState("other", true);
    QVERIFY(bar.ButtonImageKey("other").isEmpty());

    QSignalSpy pressed(&bar, &VmStatusBar::OnButtonPress);
    QSignalSpy trigger(&bar, &VmStatusBar::OnSendVTrigger);
    auto* laser = bar.findChild<QToolButton*>("laser");
    QVERIFY(laser);
    QTest::mouseClick(laser, Qt::LeftButton);
    QCOMPARE(pressed.count(), 1);
    QCOMPARE(pressed.at(0).at(0).toString(), QString("laser"));
    auto* beep = bar.findChild<QToolButton*>("beep");
    QVERIFY(beep->focusPolicy() & Qt::TabFocus);
    beep->setFocus();
    QTest::keyClick(beep, Qt::Key_Space);
    QCOMPARE(pressed.count(), 2);
    QCOMPARE(pressed.at(1).at(0).toString(), QString("beep"));

    bar.EnableToobarButtons(false);
    QVERIFY(!laser->isEnabled());
    QTest::mouseClick(laser, Qt::LeftButton);
    QCOMPARE(pressed.count(), 2);
    bar.EnableToobarButtons(true);
    QVERIFY(laser->isEnabled());

    auto* send = bar.findChild<QPushButton*>("SendVTrigger");
    QTest::mouseClick(send, Qt::LeftButton);
    QCOMPARE(trigger.count(), 1);
}

void TestDisplay::layoutOrder() {
    VmStatusBar bar;
    QVERIFY(showAt(bar, {1200, 30}));
    auto x = [&](const char* name) { return bar.findChild<QWidget*>(name)->geometry().x(); };
    // Right to left: Fail, Pass, Total (caption before value), grey, cursor, toolbar, trigger.
    const QList<const char*> order{"Info1",       "Info2",     "SendVTrigger", "TBar",       "CursorLabel",
                                   "CursorField", "GrayField", "TotalLabel",   "TotalField", "PassLabel",
                                   "PassField",   "FailLabel", "FailField"};
    for (int i = 1; i < order.size(); ++i)
        QVERIFY2(x(order[i - 1]) < x(order[i]), order[i]);
    QWidget* fail = bar.findChild<QWidget*>("FailField");
    QVERIFY(fail->geometry().right() <= bar.width() && fail->geometry().right() > bar.width() - 10);
    for (const char* name : order) {
        const QRect g = bar.findChild<QWidget*>(name)->geometry();
        QVERIFY2(g.top() >= 0 && g.bottom() < bar.height(), name);
    }

    // A count that outgrows its field widens it.
    bar.SetCounts(2147483647, 2147483647, 2147483647);
    auto* total = bar.findChild<QLabel*>("TotalField");
    QVERIFY(total->width() > total->fontMetrics().horizontalAdvance(total->text()));
    QVERIFY(x("PassLabel") > total->geometry().right());

    auto* send = bar.findChild<QPushButton*>("SendVTrigger");
    auto* wait = bar.findChild<QLabel*>("WaitTriggerMsg");
    QVERIFY(send->isVisible() && !wait->isVisible());
    bar.ShowWaitingForTrigger(true);
    QVERIFY(!send->isVisible() && wait->isVisible());
    QCOMPARE(wait->text(), QString("  Waiting For Trigger..."));
    QVERIFY(wait->geometry().right() < x("TBar"));
    QVERIFY(x("Info2") < wait->geometry().x());
    bar.ShowWaitingForTrigger(false);
    QVERIFY(send->isVisible() && !wait->isVisible());

    // Every control has an accessible name.
    for (QWidget* child : bar.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (!child->objectName().isEmpty() && child->objectName() != "qt_toolbar_ext_button")
            QVERIFY2(!child->accessibleName().isEmpty(), qPrintable(child->objectName()));
}

// ---------------------------------------------------------------- grids, chart, terminal

void TestDisplay::reportGridRowsAreBounded() {
    ReportGrid grid;
    grid.SetMaxRows(5);
    const int emptyHeight = grid.ContentHeight();
    grid.AddRecord(makeRecord(1, true, "FIRST"));
    const int oneRow = grid.ContentHeight();
    QVERIFY(oneRow > emptyHeight);
    for (int i = 2; i <= 8; ++i)
        grid.AddRecord(makeRecord(i, i != 4, QString("CODE%1").arg(i)));
    // The oldest rows go.
    QCOMPARE(grid.rowCount(), 5);
    QCOMPARE(grid.item(0, ReportGrid::ImageColumn)->text(), QString("8"));
    QCOMPARE(grid.item(4, ReportGrid::ImageColumn)->text(), QString("4"));
    // A row reads as its record: the verdict on light green or light red, the read or the status.
    QCOMPARE(grid.item(0, ReportGrid::ResultColumn)->text(), QString("PASS"));
    QCOMPARE(grid.item(0, ReportGrid::ResultColumn)->background().color(), QColor(128, 255, 128));
    QCOMPARE(grid.item(4, ReportGrid::ResultColumn)->text(), QString("FAIL"));
    QCOMPARE(grid.item(4, ReportGrid::ResultColumn)->background().color(), QColor(255, 128, 128));
    QCOMPARE(grid.item(0, ReportGrid::TextColumn)->text(), QString("CODE8"));
    QCOMPARE(grid.item(4, ReportGrid::TextColumn)->text(), QString("NO READ"));
    // A symbol found whose text is empty shows the reader's status too.
    Record empty = makeRecord(20, true, QString());
    empty.m_result.m_statusText = QStringLiteral("DECODED EMPTY");
    ReportGrid other;
    other.AddRecord(empty);
    QCOMPARE(other.item(0, ReportGrid::TextColumn)->text(), QString("DECODED EMPTY"));
    const int fiveRows = grid.ContentHeight();
    grid.AddRecord(makeRecord(9, true, "X"));
    QCOMPARE(grid.ContentHeight(), fiveRows); // the bound holds the size too
    // Twips at the widget's resolution: 1440 per inch.
    QCOMPARE(fiveRows - emptyHeight, 5 * grid.rowHeight(0) * 1440 / grid.logicalDpiY());
    int columns = 0;
    for (int c = 0; c < grid.columnCount(); ++c)
        columns += grid.columnWidth(c);
    QVERIFY2(grid.ContentWidth() > columns * 1440 / grid.logicalDpiX(),
             qPrintable(QString::number(grid.ContentWidth())));

    // A very long read does not make the grid unboundedly wide.
    const int width = grid.ContentWidth();
    grid.AddRecord(makeRecord(11, true, QString(2000, 'W')));
    QVERIFY(grid.ContentWidth() - width <= ReportGrid::kMaxTextColumnWidth * 1440 / grid.logicalDpiX());
    // The whole read is still there to see: the text cell's tooltip holds it.
    QCOMPARE(grid.item(0, ReportGrid::TextColumn)->toolTip(), QString(2000, 'W'));
    QCOMPARE(grid.item(2, ReportGrid::TextColumn)->toolTip(), QString("CODE8"));

    grid.SetMaxRows(2);
    QCOMPARE(grid.rowCount(), 2);
    grid.Clear();
    QCOMPARE(grid.rowCount(), 0);
    QCOMPARE(grid.ContentHeight(), emptyHeight);
}

void TestDisplay::reportGridPaintsLikeThePlainDelegate() {
    // The grid draws each cell once and copies it as rows move down; what shows must be what
    // drawing every cell afresh shows, selection and verdict colours included. (Antialiased
    // corners of a selected cell may differ by a level.)
    ReportGrid grid;
    QVERIFY(showAt(grid, {520, 260}));
    auto differenceFromAfresh = [&] {
        const QImage shown = grid.grab().toImage();
        QAbstractItemDelegate* cached = grid.itemDelegate();
        QStyledItemDelegate plain;
        grid.setItemDelegate(&plain);
        const QImage afresh = grid.grab().toImage();
        grid.setItemDelegate(cached);
        int largest = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb a = shown.pixel(x, y);
                const QRgb b = afresh.pixel(x, y);
                largest = std::max({largest, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                    std::abs(qBlue(a) - qBlue(b))});
            }
        return largest;
    };
    for (int i = 1; i <= 6; ++i) {
        grid.AddRecord(makeRecord(i, i % 3 != 0, QString("CODE%1").arg(i)));
        QVERIFY(differenceFromAfresh() <= 2);
    }
    grid.selectRow(1);
    QVERIFY(differenceFromAfresh() <= 2);
    grid.AddRecord(makeRecord(7, false, "CODE7")); // the selection moves with its row
    QVERIFY(differenceFromAfresh() <= 2);
}

void TestDisplay::reportChartTrends() {
    ReportChart chart;
    chart.SetSpan(20);
    const auto* axis = qobject_cast<QValueAxis*>(chart.chart()->axes(Qt::Horizontal).value(0));
    QVERIFY(axis);
    // Pass, fail, pass, pass ... over the pass-rate window of 10.
    for (int i = 1; i <= 30; ++i) {
        chart.AddRecord(i > 25 ? gradedRecord(i, i % 4 != 2, "X", i % 2 ? "A" : "C")
                               : makeRecord(i, i % 4 != 2, "X"));
        // Until the span fills, the record axis already spans it: the first records stand at
        // the left and the scale holds still while more arrive. Then it follows the newest.
        if (i == 3 || i == 30)
            QCOMPARE(QPointF(axis->min(), axis->max()), i == 3 ? QPointF(1, 20) : QPointF(11, 30));
    }
    const QList<QPointF> rate = chart.PassRatePoints();
    QCOMPARE(rate.size(), 20);
    QCOMPARE(rate.first().x(), 11.0);
    QCOMPARE(rate.last().x(), 30.0);
    // Records 21..30: failures at 22, 26 and 30 -> 70 %. The first point shown also takes
    // its window from records before the span: 2..11, failures at 2, 6 and 10 -> 70 %.
    QCOMPARE(rate.last().y(), 70.0);
    QCOMPARE(rate.first().y(), 70.0);
    QCOMPARE(rate.at(1).y(), 80.0);
    const QList<QPointF> time = chart.DecodeTimePoints();
    QCOMPARE(time.last(), QPointF(30, 40.0));
    // The decode-time axis tops out at 10 ms doubled until it clears the slowest record shown
    // by a tenth: 40 ms needs 80.
    const QValueAxis* ms = nullptr;
    for (QAbstractAxis* a : chart.chart()->axes(Qt::Vertical))
        if (a->titleText() == QLatin1String("ms"))
            ms = qobject_cast<QValueAxis*>(a);
    QVERIFY(ms);
    QCOMPARE(QPointF(ms->min(), ms->max()), QPointF(0, 80));
    const QList<QPointF> grade = chart.GradePoints();
    QCOMPARE(grade.size(), 5);
    QCOMPARE(grade.first(), QPointF(26, 2.0));
    QCOMPARE(grade.last(), QPointF(30, 2.0));
    QCOMPARE(grade.at(2), QPointF(28, 2.0));
    QCOMPARE(grade.at(1), QPointF(27, 4.0));

    // A grade sent as a number up to 4 plots like its letter: "4" and "4.0" at the top with A.
    for (int i = 31; i <= 32; ++i)
        chart.AddRecord(gradedRecord(i, true, "X", i == 31 ? "4" : " 4.0"));
    QCOMPARE(chart.GradePoints().mid(3), (QList<QPointF>{{29, 4.0}, {30, 2.0}, {31, 4.0}, {32, 4.0}}));

    QCOMPARE(ReportChart::GradeValue("f"), std::optional<double>(0.0));
    QCOMPARE(ReportChart::GradeValue("3.5"), std::optional<double>(3.5));
    QVERIFY(!ReportChart::GradeValue("E"));
    QVERIFY(!ReportChart::GradeValue("9"));
    QVERIFY(!ReportChart::GradeValue(""));

    // Cleared, the chart counts records from 1 again, its axis back at the span's start.
    chart.Clear();
    QVERIFY(chart.PassRatePoints().isEmpty());
    chart.AddRecord(makeRecord(33, true, "X"));
    QCOMPARE(chart.PassRatePoints(), (QList<QPointF>{{1, 100.0}}));
    QCOMPARE(QPointF(axis->min(), axis->max()), QPointF(1, 20));
}

void TestDisplay::verifyReportGridRows() {
    VerifyReportGrid grid;
    grid.ShowRecord(makeRecord(3, true, "X"));
    QCOMPARE(grid.rowCount(), 1);
    QVERIFY(grid.item(0, 0)->text().contains("No verification"));

    Record graded = makeRecord(4, true, "X");
    vm::link::VerificationResult v;
    v.standard = "ISO15415";
    v.overallGrade = "C";
    v.parameters = {{"Symbol contrast", "78%", "A"},
                    {"Modulation", "0.52", "C"},
                    {"Axial non-uniformity", "0.21", "F"},
                    {"Grid non-uniformity", "0.30", "B"},
                    {"Fixed pattern damage", "0.40", "D"}};
    graded.m_verification = v;
    const int smallHeight = grid.ContentHeight();
    grid.ShowRecord(graded);
    QCOMPARE(grid.rowCount(), 8);
    // Name, value and grade in their columns: the image and the standard are values, the
    // overall grade a grade.
    QStringList rows;
    for (int row = 0; row < 4; ++row)
        rows << QStringList{grid.item(row, VerifyReportGrid::NameColumn)->text(),
                            grid.item(row, VerifyReportGrid::ValueColumn)->text(),
                            grid.item(row, VerifyReportGrid::GradeColumn)->text()}
                    .join('|');
    QCOMPARE(rows,
             QStringList({"Image|4|", "Standard|ISO15415|", "Overall grade||C", "Symbol contrast|78%|A"}));
    // Names read from the left edge; values and grades stand in the middle of their cells.
    for (int row = 0; row < grid.rowCount(); ++row)
        for (int c = 0; c < VerifyReportGrid::ColumnCount; ++c)
            QCOMPARE(Qt::Alignment(grid.item(row, c)->textAlignment()),
                     c == VerifyReportGrid::NameColumn ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
    // Each grade on its class's colour: A and B light green, C light yellow, D and F light red.
    const QColor good(128, 255, 128), fair(255, 255, 128), poor(255, 128, 128);
    const QList<QPair<QString, QColor>> grades = {{"C", fair}, {"A", good}, {"C", fair},
                                                  {"F", poor}, {"B", good}, {"D", poor}};
    for (int row = 2; row < 8; ++row) {
        QCOMPARE(grid.item(row, VerifyReportGrid::GradeColumn)->text(), grades[row - 2].first);
        QCOMPARE(grid.item(row, VerifyReportGrid::GradeColumn)->background().color(), grades[row - 2].second);
    }
    QVERIFY(grid.ContentHeight() > smallHeight);
    QVERIFY(grid.ContentWidth() > 0);

    // Measurements sent only as raw fields are listed as they came.
    Record raw = makeRecord(5, true, "X");
    vm::link::VerificationResult rv;
    rv.overallGrade = "B";
    rv.raw.insert("decodability", 0.62);
    rv.raw.insert("quietZone", "pass");
    rv.raw.insert("verifierCalibrated", true);
    rv.raw.insert("withinAperture", false);
    rv.raw.insert("zones", QJsonArray({1, 2})); // a list on one line
    raw.m_verification = rv;
    grid.ShowRecord(raw);
    QCOMPARE(grid.rowCount(), 8);
    QCOMPARE(grid.item(7, 1)->text(), QString("[1,2]"));
    QCOMPARE(grid.item(3, 0)->text(), QString("decodability"));
    QCOMPARE(grid.item(3, 1)->text(), QString("0.62"));
    // True and false fields read "yes" and "no".
    QCOMPARE(grid.item(5, 0)->text(), QString("verifierCalibrated"));
    QCOMPARE(grid.item(5, 1)->text(), QString("yes"));
    QCOMPARE(grid.item(6, 0)->text(), QString("withinAperture"));
    QCOMPARE(grid.item(6, 1)->text(), QString("no"));
    // A failed verification names the reader's error number under the overall grade.
    Record failed = makeRecord(6, false, "X");
    vm::link::VerificationResult fv;
    fv.overallGrade = "F";
    fv.gradeCode = 0;
    fv.errorCode = 4711;
    fv.parameters = {{"Decode", "No Read", "F"}};
    failed.m_verification = fv;
    grid.ShowRecord(failed);
    QCOMPARE(grid.item(3, 0)->text(), QString("Error"));
    QCOMPARE(grid.item(3, 1)->text(), QString("4711"));
    QCOMPARE(grid.item(4, 0)->text(), QString("Decode"));
    grid.Clear();
    QCOMPARE(grid.rowCount(), 0);
}

void TestDisplay::termWindowColouredLines() {
    QXTermWnd term;
    term.AddText("CONTROL", Rgb(0, 255, 0));
    // A line adds one line, however many line breaks end it.
    term.AddText("!CONTROL OK\r\n\r\n", Rgb(255, 0, 0));
    QCOMPARE(term.toPlainText(), QString("CONTROL\n!CONTROL OK"));
    term.AddText("one\r\ntwo", Rgb(0, 0, 255));
    QCOMPARE(term.document()->blockCount(), 4);
    // Each line in its own colour; a text of several lines in one.
    QCOMPARE(lineColour(term, 0), QColor(0, 255, 0));
    QCOMPARE(lineColour(term, 1), QColor(255, 0, 0));
    QCOMPARE(lineColour(term, 2), QColor(0, 0, 255));
    QCOMPARE(lineColour(term, 3), QColor(0, 0, 255));
    term.Clear();
    QVERIFY(term.toPlainText().isEmpty());
    term.AddText("after", Rgb(0, 0, 255));
    QCOMPARE(term.document()->blockCount(), 1);

    // New lines stay in sight while the view is at the bottom; scrolled up, it stays put.
    QVERIFY(showAt(term, {300, 120}));
    QScrollBar* bar = term.verticalScrollBar();
    for (int i = 0; i < 40; ++i)
        term.AddText(QString("line %1").arg(i), Rgb(0, 0, 255));
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    bar->setValue(0);
    for (int i = 0; i < 5; ++i)
        term.AddText(QString("more %1").arg(i), Rgb(0, 0, 255));
    QCOMPARE(bar->value(), 0);
    bar->setValue(bar->maximum());
    term.AddText("last", Rgb(0, 0, 255));
    QCOMPARE(bar->value(), bar->maximum());
}

// ---------------------------------------------------------------- reader-facing controls

void TestDisplay::terminalTalksToFocusedReader() {
    auto sim = startSimulator("TermCam");
    QVERIFY(sim);
    vm::link::Coordinator coord;
    Terminal terminal;
    QVERIFY(showAt(terminal, {500, 300}));
    QVERIFY(terminal.Output()->toPlainText().contains("No camera connected"));

    coord.StartDiscovery();
    QTRY_VERIFY_WITH_TIMEOUT(!coord.Devices().isEmpty(), 5000);
    QVERIFY(coord.Focus("TermCam"));
    QTRY_VERIFY(terminal.Output()->toPlainText().contains("-- Connected to TermCam"));

    terminal.SendLine("VERSION");
    // The line goes trimmed; the reader says why before its error status.
    terminal.SendLine("  bogus  ");
    const QStringList lines = terminal.Output()->toPlainText().split('\n');
    QCOMPARE(lines.at(lines.size() - 3), QString("> bogus"));
    QCOMPARE(lines.at(lines.size() - 2), QString("BOGUS is not a command of this reader"));
    QVERIFY2(lines.last().startsWith("!BOGUS ERROR 1"), qPrintable(lines.last()));

    // History: Up walks back and stops at the oldest; Down goes back to the line being typed.
    QCOMPARE(terminal.History(), (QStringList{"VERSION", "bogus"}));
    QLineEdit* input = terminal.Input();
    input->setFocus();
    QTest::keyClicks(input, "TR");
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(input, Qt::Key_Up);
    QCOMPARE(input->text(), QString("VERSION"));
    QTest::keyClick(input, Qt::Key_Down);
    QTest::keyClick(input, Qt::Key_Down);
    QCOMPARE(input->text(), QString("TR"));
    // Escape empties the line and starts the walk over: Up then recalls the newest line.
    QTest::keyClick(input, Qt::Key_Up);
    QTest::keyClick(input, Qt::Key_Escape);
    QVERIFY(input->text().isEmpty());
    QTest::keyClick(input, Qt::Key_Up);
    QCOMPARE(input->text(), QString("bogus"));

    // A reader that stays silent: the terminal waits its time, then says why nothing came.
    sim->reader(0)->setNextReplyFault(vm::sim::ReplyFault::Silent, 0, "VERSION");
    QElapsedTimer waited;
    waited.start();
    terminal.SendLine("VERSION");
    QVERIFY2(waited.elapsed() >= Terminal::kReplyTimeoutMs &&
                 waited.elapsed() < Terminal::kReplyTimeoutMs + 1500,
             qPrintable(QString::number(waited.elapsed())));
    const QStringList silent = terminal.Output()->toPlainText().split('\n');
    QCOMPARE(silent.mid(silent.size() - 2),
             (QStringList{"> VERSION", QString("(no reply: No reply to \"VERSION\" within %1 ms)")
                                           .arg(Terminal::kReplyTimeoutMs)}));
    QCOMPARE(lineColour(*terminal.Output(), int(silent.size()) - 1), QColor(255, 80, 80));

    // Without a focused reader nothing is sent and the terminal says so.
    coord.Focus("");
    QTRY_VERIFY(terminal.Output()->toPlainText().endsWith("-- No camera connected"));
    terminal.SendLine("VERSION");
    const QStringList notSent = terminal.Output()->toPlainText().split('\n');
    QCOMPARE(notSent.last(), QString("(not sent: no camera connected)"));
    QCOMPARE(lineColour(*terminal.Output(), int(notSent.size()) - 1), QColor(255, 80, 80)); // an error
    QCOMPARE(lineColour(*terminal.Output(), int(notSent.size()) - 3), QColor(255, 255, 0)); // a notice
    terminal.Clear();
    QCOMPARE(terminal.Output()->toPlainText(), QString("-- No camera connected"));

    // Up reaches back to the 100th line typed before, no further.
    for (int i = 1; i <= 101; ++i)
        terminal.SendLine(QString("L%1").arg(i));
    for (int i = 0; i < 101; ++i)
        QTest::keyClick(input, Qt::Key_Up);
    QCOMPARE(input->text(), QString("L2"));
}

void TestDisplay::camerasListDiscoveredReaders() {
    auto sim = startSimulator("NetCam");
    QVERIFY(sim);
    Cameras cameras;
    const int emptyWidth = cameras.ContentWidth();
    QTRY_COMPARE_WITH_TIMEOUT(cameras.rowCount(), 1, 5000);
    auto text = [&](int column) { return cameras.item(0, column)->text(); };
    // Every column holds its caption and its widest text whole; the content never narrows.
    for (int c = 0; c < Cameras::ColumnCount; ++c) {
        QVERIFY(cameras.columnWidth(c) >= cameras.horizontalHeader()->sectionSizeHint(c));
        QVERIFY(cameras.columnWidth(c) > cameras.fontMetrics().horizontalAdvance(text(c)));
    }
    QVERIFY(cameras.ContentWidth() >= emptyWidth);
}

// The overview's columns sort as people read names and addresses: letters whatever their
// case, runs of digits by their value.
void TestDisplay::overviewSortsAsPeopleRead() {
    const QStringList sorted = {"127.0.0.9", "127.0.0.10", "alpha",  "Beta",     "gamma",
                                "Line4",     "line9",      "LINE10", "Line010b", "Line11"};
    for (qsizetype i = 0; i + 1 < sorted.size(); ++i)
        QVERIFY2(vm::display::naturalSortKey(sorted[i]) < vm::display::naturalSortKey(sorted[i + 1]),
                 qPrintable(sorted[i] + " before " + sorted[i + 1]));
}

void TestDisplay::camerasListUnusableNamesByAddress() {
    vm::sim::ReaderConfig bad = vm::testing::readerConfig("Net/Cam");
    bad.commandPort = 0;
    bad.dataPort = 0;
    bad.publishSerial = false;
    vm::sim::ReaderConfig good = vm::testing::readerConfig("NetCam2");
    good.commandPort = 0;
    good.dataPort = 0;
    good.publishSerial = false;
    auto sim = vm::testing::startSimulator({good, bad});
    QVERIFY(sim);
    Cameras cameras;
    // The reader with the unusable name comes after the found ones, by its address, with why.
    QTRY_COMPARE_WITH_TIMEOUT(cameras.rowCount(), 2, 5000);
    auto text = [&](int row, int column) { return cameras.item(row, column)->text(); };
    QCOMPARE(text(0, Cameras::NameColumn), QString("NetCam2"));
    QCOMPARE(text(1, Cameras::NameColumn), QString("(name not usable: contains '/')"));
    QCOMPARE(text(1, Cameras::AddressColumn), bad.address.toString());
    QCOMPARE(text(1, Cameras::VersionColumn), QString("3.0.2.1"));
    QCOMPARE(text(1, Cameras::ControllerColumn), QString("(none)"));
    QCOMPARE(text(1, Cameras::ReachableColumn), QString("Yes"));
    QVERIFY(cameras.item(1, Cameras::NameColumn)->toolTip().contains("\"Net/Cam\""));

    // Silent, it leaves the list: nothing of it is kept.
    sim->reader(1)->setListening(false);
    QTRY_COMPARE_WITH_TIMEOUT(cameras.rowCount(), 1, 10000);
    QCOMPARE(text(0, Cameras::NameColumn), QString("NetCam2"));
}

QTEST_MAIN(TestDisplay)
#include "tst_display.moc"
