// Measures how fast the image view paints records with the four overlays and the
// result text, and how it copes with images arriving faster than the screen
// refreshes. With --demo <folder> it writes pictures of the display controls.
//
//   velmarrow_bench_display [--images N] [--size WxH] [--live-rate HZ] [--live-seconds S]
//   velmarrow_bench_display --demo <folder>

#include "display/colorvalue.h"
#include "display/imageview.h"
#include "display/reportchart.h"
#include "display/reportgrid.h"
#include "display/twips.h"
#include "display/verifyreportgrid.h"
#include "display/xtermwnd.h"
#include "shell/statusbar.h"
#include "tools/overlays.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QRandomGenerator>
#include <QTimer>
#include <QVBoxLayout>

#include <ctime>
#include <memory>
#include <vector>

using namespace vm::display;

namespace {

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// A grey scene with a matrix-like symbol, different for every seed.
QImage sceneImage(int seed) {
    QImage image(659, 494, QImage::Format_Grayscale8);
    for (int y = 0; y < image.height(); ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x)
            line[x] = uchar(70 + (x + y + seed * 7) % 60);
    }
    QRandomGenerator random(quint32(seed + 1));
    QPainter painter(&image);
    const int cell = 9, cells = 18;
    const QPoint origin(250 + seed % 20, 160 + seed % 15);
    painter.fillRect(QRect(origin - QPoint(cell, cell), QSize((cells + 2) * cell, (cells + 2) * cell)),
                     QColor(225, 225, 225));
    for (int r = 0; r < cells; ++r)
        for (int c = 0; c < cells; ++c) {
            const bool finder =
                c == 0 || r == cells - 1 || (r == 0 && c % 2 == 0) || (c == cells - 1 && r % 2 == 1);
            if (finder || random.bounded(2))
                painter.fillRect(origin.x() + c * cell, origin.y() + r * cell, cell, cell,
                                 QColor(25, 25, 25));
        }
    return image;
}

vm::link::Record makeRecord(const QImage& image, qint64 number, bool passed) {
    vm::link::Record record;
    record.m_passed = passed;
    record.m_timeMs = QDateTime::currentMSecsSinceEpoch();
    record.m_image = vm::link::RecordImage(image, number, 420, 2, true);
    record.m_result.m_symbolFound = passed;
    record.m_result.m_text =
        passed ? QStringLiteral("LOT-7/SN-%1").arg(number, 6, 10, QLatin1Char('0')) : QString();
    record.m_result.m_statusText = passed ? QStringLiteral("GOOD READ") : QStringLiteral("NO READ");
    record.m_result.m_decodeMs = 12.0 + double(number % 17);
    if (number % 3 == 0) {
        vm::link::VerificationResult v;
        v.standard = QStringLiteral("ISO15415");
        v.overallGrade = QString(QChar(u"ABCDF"[number % 5]));
        v.parameters = {{"Decode", "PASS", "A"},
                        {"Symbol contrast", "71%", "B"},
                        {"Modulation", "0.55", "C"},
                        {"Reflectance margin", "0.48", "C"},
                        {"Fixed pattern damage", "0.81", "A"},
                        {"Axial non-uniformity", "0.04", "A"},
                        {"Grid non-uniformity", "0.31", "D"},
                        {"Unused error correction", "0.92", "A"}};
        record.m_verification = v;
    }
    return record;
}

void addOverlays(VxImageView& view) {
    auto area = std::make_shared<vm::tools::SearchArea>();
    area->SetColor(Rgb(0, 0, 255));
    area->MoveHandleTo(2, 560, 420);
    area->MoveHandleTo(0, 60, 50);
    auto roi = std::make_shared<vm::tools::MatrixROI>();
    roi->MoveHandleTo(0, 240, 150);
    roi->MoveHandleTo(1, 420, 158);
    roi->MoveHandleTo(2, 414, 336);
    roi->MoveHandleTo(3, 236, 330);
    view.AddOverlay(QStringLiteral("Search Area"), area);
    view.AddOverlay(QStringLiteral("Matrix ROI"), roi);
    view.AddOverlay(QStringLiteral("Crosshairs"), std::make_shared<vm::tools::Crosshairs>());
    view.AddOverlay(QStringLiteral("Boxes"), std::make_shared<vm::tools::Boxes>());
}

int writeDemo(const QString& folder) {
    QDir().mkpath(folder);
    std::vector<QImage> images;
    for (int i = 0; i < 3; ++i)
        images.push_back(sceneImage(i));

    VxImageView view;
    view.resize(760, 570);
    addOverlays(view);
    DisplaySettings settings;
    view.ApplyDisplaySettings(settings);
    view.SetRecord(makeRecord(images[0], 1042, true));
    view.grab().save(folder + "/imageview_pass.png");
    settings.topText = true;
    view.ApplyDisplaySettings(settings);
    view.RemoveOverlay(QStringLiteral("Boxes"));
    view.SetRecord(makeRecord(images[1], 1043, false));
    view.grab().save(folder + "/imageview_fail_top.png");

    vm::shell::VmStatusBar bar;
    bar.resize(1100, bar.sizeHint().height());
    bar.SetCounts(1043, 1012, 31);
    bar.SetCountColors(kWindowBackground, kWindowBackground, Rgb(255, 128, 128));
    bar.SetCursorPos(312, 207);
    bar.SetGrayVal(96);
    bar.SetStatusMsg(QStringLiteral("Connected to Line3"), Rgb(0, 0, 0), Rgb(128, 255, 128));
    bar.SetInfoMsg(QStringLiteral("Image saved as /tmp/Line3_000001043.tif"), Rgb(0, 0, 0),
                   kWindowBackground);
    bar.SetButtonState(QStringLiteral("beep"), true);
    bar.SetButtonState(QStringLiteral("laser"), true, true);
    bar.grab().save(folder + "/statusbar.png");
    bar.ShowWaitingForTrigger(true);
    bar.ShowProgress(true);
    bar.SetProgressPercent(64);
    bar.grab().save(folder + "/statusbar_waiting_progress.png");

    ReportGrid grid;
    ReportChart chart;
    VerifyReportGrid verify;
    for (int i = 1; i <= 60; ++i) {
        const auto record = makeRecord(images[std::size_t(i % 3)], 1000 + i, i % 7 != 0);
        grid.AddRecord(record);
        chart.AddRecord(record);
        if (record.HasVerification())
            verify.ShowRecord(record);
    }
    grid.resize(TwipsToPixelsX(&grid, grid.ContentWidth()), TwipsToPixelsY(&grid, grid.ContentHeight()));
    grid.grab().save(folder + "/reportgrid.png");
    chart.resize(760, 420);
    chart.grab().save(folder + "/reportchart.png");
    verify.resize(TwipsToPixelsX(&verify, verify.ContentWidth()),
                  TwipsToPixelsY(&verify, verify.ContentHeight()));
    verify.grab().save(folder + "/verifyreportgrid.png");

    QXTermWnd term;
    term.resize(520, 200);
    term.AddText(QStringLiteral("> TRIG"), Rgb(0, 255, 0));
    term.AddText(QStringLiteral("TRIG C"), Rgb(255, 255, 255));
    term.AddText(QStringLiteral("!TRIG OK"), Rgb(0, 255, 255));
    term.AddText(QStringLiteral("> BOGUS"), Rgb(0, 255, 0));
    term.AddText(QStringLiteral("!BOGUS ERROR 1 malformed command"), Rgb(255, 80, 80));
    term.grab().save(folder + "/xtermwnd.png");
    qInfo("demo pictures written to %s", qPrintable(folder));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"images", "Images painted in the throughput run.", "N", "600"});
    parser.addOption({"size", "Image view size.", "WxH", "800x600"});
    parser.addOption({"live-rate", "Images per second fed in the live run.", "HZ", "120"});
    parser.addOption({"live-seconds", "Length of the live run.", "S", "3"});
    parser.addOption({"demo", "Write pictures of the controls to a folder and exit.", "folder"});
    parser.process(app);
    if (parser.isSet("demo"))
        return writeDemo(parser.value("demo"));

    const QStringList size = parser.value("size").split('x');
    const QSize viewSize(size.value(0).toInt() > 0 ? size.value(0).toInt() : 800,
                         size.value(1).toInt() > 0 ? size.value(1).toInt() : 600);
    const int count = std::max(1, parser.value("images").toInt());

    // Distinct images, so every record costs a fresh scaling as it would live.
    std::vector<QImage> images;
    for (int i = 0; i < 32; ++i)
        images.push_back(sceneImage(i));

    VxImageView view;
    view.resize(viewSize);
    addOverlays(view);
    view.show();
    QElapsedTimer exposing;
    exposing.start();
    while (view.PaintCount() == 0 && exposing.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    // Throughput: every image painted at once (synchronous repaint), so the figure is
    // the cost of a frame, not the screen's refresh rate.
    view.SetRecord(makeRecord(images[0], 0, true));
    view.repaint();
    const quint64 paintedBefore = view.PaintedImageCount();
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds();
    for (int i = 1; i <= count; ++i) {
        QImage fresh = images[std::size_t(i) % images.size()].copy(); // a new image each time
        view.SetRecord(makeRecord(fresh, i, i % 5 != 0));
        view.repaint();
    }
    const double wallSeconds = double(wall.nsecsElapsed()) * 1e-9;
    const double cpuUsed = cpuSeconds() - cpu0;
    const quint64 painted = view.PaintedImageCount() - paintedBefore;
    std::printf("image view %dx%d, 4 overlays and result text, %d images, %llu painted\n", viewSize.width(),
                viewSize.height(), count, static_cast<unsigned long long>(painted));
    if (painted != quint64(count))
        std::printf("  warning: not every image reached the screen; the figures below are not valid\n");
    std::printf("  painted: %.0f images/s (%.2f ms wall per image)\n", count / wallSeconds,
                1000.0 * wallSeconds / count);
    std::printf("  CPU time: %.2f ms per image\n", 1000.0 * cpuUsed / count);

    {
        // The limit: a bare QImage paint of a new image of the same size at the same place,
        // without the view around it.
        const QSize target = view.ImageRect().size().toSize();
        QImage canvas(viewSize, QImage::Format_RGB32);
        QElapsedTimer bare;
        bare.start();
        for (int i = 1; i <= count; ++i) {
            const QImage fresh = images[std::size_t(i) % images.size()].copy();
            QPainter painter(&canvas);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRect(QPoint(0, 0), target), fresh);
        }
        const double ms = double(bare.nsecsElapsed()) / 1e6 / count;
        std::printf("  limit: a bare QImage paint to %dx%d %.2f ms (%.0f paints/s)\n", target.width(),
                    target.height(), ms, 1000.0 / ms);
    }

    // Live: images arrive at a steady rate, each handed in when it is due; at or above the
    // refresh rate the view paints once per refresh and drops the stale ones.
    const double seconds = std::max(0.5, parser.value("live-seconds").toDouble());
    for (const int rate : {60, std::max(1, parser.value("live-rate").toInt())}) {
        const quint64 received0 = view.ReceivedImageCount(), painted0 = view.PaintedImageCount(),
                      dropped0 = view.DroppedImageCount(), paints0 = view.PaintCount();
        QElapsedTimer liveWall;
        liveWall.start();
        qint64 handed = 0;
        QTimer feeder;
        feeder.setTimerType(Qt::PreciseTimer);
        feeder.setInterval(1);
        QObject::connect(&feeder, &QTimer::timeout, [&] {
            if (double(liveWall.nsecsElapsed()) * rate / 1e9 < double(handed))
                return;
            ++handed;
            const qint64 number = count + handed;
            view.SetRecord(makeRecord(images[std::size_t(number) % images.size()].copy(), number, true));
        });
        const double liveCpu0 = cpuSeconds();
        feeder.start();
        QEventLoop loop;
        QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
        loop.exec();
        feeder.stop();
        const double liveSeconds = double(liveWall.nsecsElapsed()) * 1e-9;
        const double liveCpu = cpuSeconds() - liveCpu0;
        const quint64 received = view.ReceivedImageCount() - received0;
        const double refresh = 1e9 / double(view.FrameIntervalNs());
        std::printf("live feed at %d images/s for %.1f s (refresh %.1f Hz)\n", rate, liveSeconds, refresh);
        std::printf(
            "  received %llu, painted %.1f per second, dropped as stale %llu, paints %.1f per second  "
            "[goal: >= %.0f painted per second]\n",
            static_cast<unsigned long long>(received),
            double(view.PaintedImageCount() - painted0) / liveSeconds,
            static_cast<unsigned long long>(view.DroppedImageCount() - dropped0),
            double(view.PaintCount() - paints0) / liveSeconds, std::min(double(rate), refresh) * 58.0 / 60.0);
        std::printf("  CPU time: %.2f ms per received image, %.0f %% of one core\n",
                    received ? 1000.0 * liveCpu / double(received) : 0.0, 100.0 * liveCpu / liveSeconds);
    }
    return 0;
}
