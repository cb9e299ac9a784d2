// Measures the main window against a simulated reader running as its own process:
// the time from pressing a camera button to a connected, refreshed reader, and the live
// display's frame rate and this process's CPU use at a given reader rate. With
// --screenshot it also saves a picture of the window showing live results.
//
//   xvfb-run -a bench_mainwindow --rate 60 --replay --seconds 10
//   xvfb-run -a bench_mainwindow --rate 60 --screenshot docs/mainwindow.png
//
// With --replay the reader sends its last image again each cycle, so that the reader's own
// decoding does not limit the image rate. The limit printed beside the figures is a bare paint
// of the same image, scaled to the view, into an off-screen picture.

#include "app/programstate.h"
#include "bench/common/programbench.h"
#include "display/imageview.h"
#include "link/connection.h"
#include "shell/addcamera.h"
#include "shell/basicinterface.h"
#include "shell/frmoptions.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using vm::bench::cpuSeconds;
using vm::bench::waitFor;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"rate", "Reader read cycles per second.", "N", "30"});
    parser.addOption({"seconds", "How long to watch live images.", "S", "10"});
    parser.addOption({"replay", "The reader replays its last image instead of reading (no decoding)."});
    parser.addOption({"connects", "How many times to press the camera button.", "N", "5"});
    parser.addOption({"screenshot", "Save a picture of the window to this PNG file.", "PATH"});
    parser.addOption(
        {"dialogs", "Also save pictures of the Add Camera and Preferences dialogs in this folder.", "DIR"});
    parser.addOption({"sim", "The simulated reader program.", "PATH", QStringLiteral(LUMIVEX_SIM_PROGRAM)});
    parser.process(app);

    const int rate = parser.value("rate").toInt();
    const int seconds = parser.value("seconds").toInt();
    QTemporaryDir dir;
    vm::bench::ReaderProcess sim;
    if (!sim.start({parser.value("sim"), "Line3", "127.77.0.1", 47370, rate, parser.isSet("replay")}))
        return 1;
    vm::bench::installProgramSettings(dir.path());

    vm::shell::BasicInterface window;
    if (!vm::bench::showMainWindowFor(window, "Line3"))
        return 1;

    QList<double> connectMs;
    const int connects = std::max(1, parser.value("connects").toInt());
    for (int i = 0; i < connects; ++i) {
        QElapsedTimer timer;
        timer.start();
        window.ClickCameraButton("Line3");
        const bool up = waitFor(
            [&] { return window.imageConnection()->Connected() && vm::app::firmwareLevel() > 0; }, 10000);
        connectMs.append(double(timer.nsecsElapsed()) / 1e6);
        if (!up) {
            std::fprintf(stderr, "the reader did not connect\n");
            return 1;
        }
        if (i + 1 < connects) {
            window.ClickCameraButton("Line3");
            waitFor([&] { return !window.imageConnection()->Connected() && vm::app::firmwareLevel() == 0; },
                    5000);
        }
    }
    std::sort(connectMs.begin(), connectMs.end());
    std::printf("camera button to connected: median %.1f ms, slowest %.1f ms (%d presses)\n",
                connectMs.at(connectMs.size() / 2), connectMs.last(), int(connectMs.size()));

    window.imageConnection()->SendCommand("CONTROL");
    window.findChild<QAction*>("live")->setChecked(true);
    waitFor([&] { return window.imageView()->HasImage(); }, 5000);
    waitFor([] { return false; }, 1000); // let the stream settle

    vm::bench::RecordTally tally;
    int withImage = 0;
    QObject::connect(&window, &vm::shell::BasicInterface::recordShown, [&](const vm::link::Record& record) {
        tally.add(record.Number());
        if (!record.Image().IsEmpty())
            ++withImage;
    });
    const quint64 painted0 = window.imageView()->PaintedImageCount();
    const quint64 dropped0 = window.imageView()->DroppedImageCount();
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    waitFor([&] { return wall.elapsed() >= qint64(seconds) * 1000; }, seconds * 1000 + 1000);
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    const qint64 records = tally.received();
    std::printf("live %d, %d of %lld records with images, %lld of the reader's numbers missing\n",
                window.IsLive(), withImage, static_cast<long long>(records),
                static_cast<long long>(tally.missing()));
    const double paintedRate = double(window.imageView()->PaintedImageCount() - painted0) / elapsed;
    const double refresh = 1e9 / double(window.imageView()->FrameIntervalNs());
    std::printf(
        "reader at %d images/s: %.1f records/s shown, %.1f images/s painted (screen %.0f Hz), %llu dropped "
        "as stale, CPU %.0f%% of one core (%.2f ms per record)  [goal: >= %.0f painted/s, CPU <= 25%%]\n",
        rate, records / elapsed, paintedRate, refresh,
        static_cast<unsigned long long>(window.imageView()->DroppedImageCount() - dropped0),
        100.0 * cpu / elapsed, records ? 1000.0 * cpu / records : 0.0,
        std::min(double(rate), refresh) * 58.0 / 60.0);
    {
        // The limit: what painting the newest image costs at its least, without the program.
        const QImage image = window.imageView()->Image();
        const QSize size = window.imageView()->ImageRect().size().toSize();
        QImage target(window.imageView()->size(), QImage::Format_RGB32);
        const int paints = 200;
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < paints; ++i) {
            // A new image each time, as live images are: the scaling is not cached.
            QImage frame = image.copy();
            QPainter painter(&target);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRect(QPoint(0, 0), size), frame);
        }
        const double ms = double(timer.nsecsElapsed()) / 1e6 / paints;
        std::printf("limit: a bare QImage paint of the %dx%d image to %dx%d costs %.2f ms (%.0f paints/s)\n",
                    image.width(), image.height(), size.width(), size.height(), ms, 1000.0 / ms);
    }

    if (parser.isSet("screenshot")) {
        window.UpdateToolbar();
        window.UpdateCaptions();
        waitFor([] { return false; }, 600);
        const QString path = parser.value("screenshot");
        if (!window.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("screenshot: %s\n", qPrintable(path));
    }

    if (parser.isSet("dialogs")) {
        const QDir folder(parser.value("dialogs"));
        vm::shell::AddCamera addCamera(&window);
        addCamera.show();
        waitFor([] { return false; }, 300);
        addCamera.grab().save(folder.filePath("addcamera.png"));
        window.options()->show();
        auto* tabs = window.options()->findChild<QTabWidget*>("tbsOptions");
        for (int i = 0; tabs && i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            waitFor([] { return false; }, 200);
            window.options()->grab().save(folder.filePath(QStringLiteral("preferences%1.png").arg(i + 1)));
        }
        window.options()->hide();
        std::printf("dialogs: %s\n", qPrintable(folder.absolutePath()));
    }

    window.close();
    return 0;
}
