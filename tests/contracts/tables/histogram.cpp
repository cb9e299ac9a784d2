// Histogram and statistics: the main window hands it a region and each image; it shows the
// region's grey-level statistics. It binds no reader field; its checks compute the figures
// from the pixels of the reader's own images and of known pictures, and compare them with
// what the window shows.
#include "contracts/contract.h"
#include "contracts/tables/monitoring.h"
#include "tools/frmhisto.h"

#include <QColor>
#include <QLabel>
#include <QLineEdit>

#include <cmath>

namespace vm::contracts {

namespace {

using monitoring::Records;

const QString kHisto = QStringLiteral("frmHisto");

tools::frmHisto* histo(Stage& stage) {
    return qobject_cast<tools::frmHisto*>(stage.window());
}

QString shown(Stage& stage, const char* name) {
    auto* box = qobject_cast<QLineEdit*>(stage.control(QLatin1String(name)));
    return box ? box->text() : QStringLiteral("(no %1)").arg(QLatin1String(name));
}

QString padded(qint64 value, int digits) {
    return QStringLiteral("%1").arg(value, digits, 10, QLatin1Char('0'));
}

// The statistics of the region left..right-1 x top..bottom-1, counted from the pixels.
struct Expected {
    QString minMax, median, lowPeak, highPeak, mean, stdDev;
    int scaleMaximum = 0;
};

Expected expectedOf(const QImage& image, int left, int top, int right, int bottom) {
    QVector<qint64> bins(256, 0);
    double sum = 0, squares = 0;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            const int g = qGray(image.pixel(x, y));
            ++bins[g];
            sum += g;
            squares += double(g) * g;
        }
    const double n = double(right - left) * double(bottom - top);
    int minimum = -1, maximum = -1, median = -1;
    qint64 high = 0, low = 255, cumulative = 0;
    for (int i = 0; i < 256; ++i) {
        if (minimum < 0 && bins[i] > 0)
            minimum = i;
        if (bins[i] > 0)
            maximum = i;
        cumulative += bins[i];
        if (median < 0 && n / 2 < double(cumulative))
            median = i;
        high = std::max(high, bins[i]);
        if (bins[i] > 0 && bins[i] < low)
            low = bins[i];
    }
    const double mean = sum / n;
    Expected e;
    e.minMax = padded(minimum, 3) + QStringLiteral(" / ") + padded(maximum, 3);
    e.median = padded(median, 3);
    e.lowPeak = padded(low, 6);
    e.highPeak = padded(high, 6);
    e.mean = QString::number(mean, 'f', 3);
    e.stdDev = QString::number(std::sqrt(std::max(0.0, squares / n - mean * mean)), 'f', 3);
    e.scaleMaximum = int(high + (100 - high % 100));
    return e;
}

void compareShown(Stage& stage, const Expected& e) {
    QCOMPARE(shown(stage, "lblMinMax"), e.minMax);
    QCOMPARE(shown(stage, "lblMedian"), e.median);
    QCOMPARE(shown(stage, "lblLowPeak"), e.lowPeak);
    QCOMPARE(shown(stage, "lblHiPeak"), e.highPeak);
    QCOMPARE(shown(stage, "lblMean"), e.mean);
    QCOMPARE(shown(stage, "lblStdDev"), e.stdDev);
    QCOMPARE(histo(stage)->figures().scaleMaximum, e.scaleMaximum);
}

// A picture whose columns left of `split` are `leftGrey` and the rest `rightGrey`.
link::RecordImage picture(int split, int leftGrey, int rightGrey) {
    QImage image(659, 494, QImage::Format_Grayscale8);
    for (int y = 0; y < image.height(); ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x)
            line[x] = uchar(x < split ? leftGrey : rightGrey);
    }
    return link::RecordImage(image, 1, 0, 0, false);
}

// The main window creates it, hidden, and shows it from its Test menu.
QWidget* openHistogram(Stage&) {
    auto* window = new tools::frmHisto;
    window->show();
    return window;
}

void figuresOfImages(Stage& stage) {
    monitoring::startQuietReader(stage, QStringLiteral("HISTOGRAM-0123456789"));
    Records records;
    QWidget* window = stage.adopt(openHistogram(stage));
    QVERIFY(histo(stage));
    QCOMPARE(window->windowTitle(), QStringLiteral("Histogram And Statistics"));
    const QList<std::pair<const char*, const char*>> captions = {
        {"capMinMax", "Min/Max:"},     {"capMedian", "Median:"}, {"capLowPeak", "Low Peak:"},
        {"capHighPeak", "High Peak:"}, {"capMean", "Mean:"},     {"capStdDev", "StdDev:"}};
    for (const auto& [name, text] : captions) {
        auto* label = window->findChild<QLabel*>(QLatin1String(name));
        QVERIFY2(label, name);
        QCOMPARE(label->text(), QLatin1String(text));
    }

    // The reader's image, over the region the main window starts with and over a region
    // across the printed symbol's edge.
    link::Record r;
    QVERIFY(records.cycle(stage, &r));
    QVERIFY(!r.Image().IsEmpty());
    for (const QRect& region :
         {QRect(QPoint(100, 100), QPoint(299, 299)), QRect(QPoint(250, 180), QPoint(420, 330)),
          QRect(QPoint(0, 0), QPoint(658, 493))}) {
        histo(stage)->UpdateHistogram(region.left(), region.top(), region.right() + 1, region.bottom() + 1,
                                      r.Image());
        compareShown(stage, expectedOf(r.Image().image(), region.left(), region.top(), region.right() + 1,
                                       region.bottom() + 1));
    }

    // All 200 over 20 x 20 pixels: one bin of 400, a scale of 500; the low peak stays at 255.
    histo(stage)->UpdateHistogram(10, 10, 30, 30, picture(0, 0, 200));
    QCOMPARE(shown(stage, "lblMinMax"), QStringLiteral("200 / 200"));
    QCOMPARE(shown(stage, "lblMedian"), QStringLiteral("200"));
    QCOMPARE(shown(stage, "lblHiPeak"), QStringLiteral("000400"));
    QCOMPARE(shown(stage, "lblLowPeak"), QStringLiteral("000255"));
    QCOMPARE(shown(stage, "lblMean"), QStringLiteral("200.000"));
    QCOMPARE(shown(stage, "lblStdDev"), QStringLiteral("0.000"));
    QCOMPARE(histo(stage)->figures().scaleMaximum, 500);
    // Ten columns of 100 and ten of 200 over ten rows: a highest bin of 100 scales to 200;
    // the median is the first level past half of the pixels.
    histo(stage)->UpdateHistogram(310, 0, 330, 10, picture(320, 100, 200));
    QCOMPARE(shown(stage, "lblMinMax"), QStringLiteral("100 / 200"));
    QCOMPARE(shown(stage, "lblMedian"), QStringLiteral("200"));
    QCOMPARE(shown(stage, "lblHiPeak"), QStringLiteral("000100"));
    QCOMPARE(shown(stage, "lblLowPeak"), QStringLiteral("000100"));
    QCOMPARE(shown(stage, "lblMean"), QStringLiteral("150.000"));
    QCOMPARE(shown(stage, "lblStdDev"), QStringLiteral("50.000"));
    QCOMPARE(histo(stage)->figures().scaleMaximum, 200);
    // Eleven columns of 100, nine of 200: the median falls to 100.
    histo(stage)->UpdateHistogram(309, 0, 329, 10, picture(320, 100, 200));
    QCOMPARE(shown(stage, "lblMedian"), QStringLiteral("100"));
    QCOMPARE(shown(stage, "lblLowPeak"), QStringLiteral("000090"));
    QCOMPARE(shown(stage, "lblHiPeak"), QStringLiteral("000110"));

    // The chart: bars alternate red from bin 0 and blue, on white where a level is absent.
    window->resize(900, 700);
    histo(stage)->UpdateHistogram(310, 0, 330, 10, picture(320, 101, 200));
    const QImage chart = histo(stage)->chart()->grab().toImage();
    QVERIFY2(chart.width() >= 2 * 256, qPrintable(QString::number(chart.width())));
    auto bar = [&chart](int level) {
        return chart.pixelColor(int((level + 0.5) * chart.width() / 256.0), int(chart.height() * 0.95));
    };
    QCOMPARE(bar(101), QColor(0, 0, 255));
    QCOMPARE(bar(200), QColor(255, 0, 0));
    QCOMPARE(bar(150), QColor(Qt::white));

    // A region of no width (or no height) empties the chart and leaves the figures.
    for (const QRect& flat : {QRect(40, 10, 0, 20), QRect(40, 10, 20, 0)}) {
        histo(stage)->UpdateHistogram(flat.left(), flat.top(), flat.left() + flat.width(),
                                      flat.top() + flat.height(), picture(0, 0, 50));
        QVERIFY(histo(stage)->figures().isEmpty());
        QCOMPARE(shown(stage, "lblMedian"), QStringLiteral("200"));
        QCOMPARE(shown(stage, "lblMinMax"), QStringLiteral("101 / 200"));
    }

    // Closing only hides the window and tells the main window.
    QSignalSpy closing(histo(stage), &tools::frmHisto::Closing);
    QVERIFY(!window->close());
    QCOMPARE(closing.count(), 1);
    QVERIFY(window->isHidden());
}

} // namespace

WindowContract histogramContract() {
    WindowContract w;
    w.window = kHisto;
    w.opener = openHistogram;
    // The figures, read-only: the operator may select them, never change them.
    w.notFields = {"lblMinMax", "lblMedian", "lblLowPeak", "lblHiPeak", "lblMean", "lblStdDev"};
    w.checks = {figuresOfImages};
    return w;
}

} // namespace vm::contracts
