// Measures the monitoring windows against a simulated reader running as its own process
// at its top rate: with all six windows open, whether every record reaches them and this
// process's CPU use; and whether the filmstrip recorder writes every image. With
// --screenshots it also saves a picture of each window.
//
//   xvfb-run -a bench_tools --rate 120 --seconds 10
//   xvfb-run -a bench_tools --screenshots /tmp/windows

#include "app/imagefiles.h"
#include "app/settingsstore.h"
#include "app/windowregistry.h"
#include "display/imageview.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "shell/basicinterface.h"
#include "shell/programstate.h"
#include "tools/basicchart.h"
#include "tools/filmstriprecorder.h"
#include "tools/frmhisto.h"
#include "tools/imagerecorder.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

#include <sys/resource.h>

namespace {

// Runs the event loop until done() holds, checking every 10 ms.
bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    QElapsedTimer timer;
    timer.start();
    bool result = false;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            result = true;
            loop.quit();
        } else if (timer.elapsed() > timeoutMs) {
            loop.quit();
        }
    });
    check.start(10);
    loop.exec();
    return result;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"rate", "Reader read cycles per second.", "N", "120"});
    parser.addOption({"seconds", "How long to measure.", "S", "10"});
    parser.addOption({"replay", "The reader replays its last image instead of reading (no decoding), so that "
                                "its rate is not bound by the decoder on this machine."});
    parser.addOption({"screenshots", "Save a picture of each window in this folder.", "DIR"});
    parser.addOption({"sim", "The simulated reader program.", "PATH", QStringLiteral(LUMIVEX_SIM_PROGRAM)});
    parser.process(app);

    const int rate = parser.value("rate").toInt();
    const int seconds = parser.value("seconds").toInt();
    const QString address = QStringLiteral("127.78.0.1");
    const quint16 discoveryPort = 47380;
    qputenv("VELMARROW_DISCOVERY_TARGETS",
            QStringLiteral("127.255.255.255:%1").arg(discoveryPort).toLocal8Bit());
    qputenv("VmSplashEnabled", "0");
    qputenv("VELMARROW_STATION", "BENCH-PC");

    QTemporaryDir dir;
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList simArguments = {"--readers",        "1",
                                "--name",           "Line4",
                                "--address",        address,
                                "--rate",           QString::number(rate),
                                "--discovery-port", QString::number(discoveryPort),
                                "--admin-port",     "0",
                                "--no-stdin",       "--no-flash"};
    if (parser.isSet("replay"))
        simArguments << "--replay";
    sim.start(parser.value("sim"), simArguments);
    if (!sim.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(parser.value("sim")));
        return 1;
    }

    vm::app::installSettings(
        std::make_unique<vm::app::SettingsStore>(dir.filePath("settings.ini"), dir.filePath("options.ini")));
    vm::app::settings().Open("Velmarrow");
    vm::app::settings().SetValue("ImageRate", "0", "Connectivity");
    vm::app::settings().SetValue("ReportRate", "0", "Connectivity");
    const QString images = dir.filePath("images");
    QDir().mkpath(images);
    vm::app::setImageSaveDirectory(images);
    vm::app::registerWindows(vm::app::windows());

    vm::shell::BasicInterface window;
    window.setProgramVersion("3.0.2.1");
    window.Load();
    window.resize(1000, 820);
    window.show();
    window.AddCameraButton("Line4");
    auto discovered = [&] {
        for (const vm::link::Device* d : window.coordinator()->Devices())
            if (d->Name() == QLatin1String("Line4"))
                return true;
        return false;
    };
    if (!waitFor(discovered, 10000)) {
        std::fprintf(stderr, "the simulated reader was not discovered\n");
        return 1;
    }
    window.ClickCameraButton("Line4");
    if (!waitFor([&] { return window.imageConnection()->Connected() && vm::shell::firmwareLevel() > 0; },
                 10000)) {
        std::fprintf(stderr, "the reader did not connect\n");
        return 1;
    }
    for (const char* key : {"mnuTerminal", "mnuReport", "mnuChart", "mnuFilmstrip", "mnuNetworkOverview"})
        window.action(QLatin1String(key))->trigger();
    window.ShowHistogramWindow();
    window.findChild<QAction*>("live")->setChecked(true);
    auto* chart = static_cast<vm::tools::BasicChart*>(vm::app::windows().find("BasicChart"));
    auto* film = static_cast<vm::tools::FilmstripRecorder*>(vm::app::windows().find("FilmstripRecorder"));
    waitFor([&] { return film->shownCount() > 0; }, 5000);
    waitFor([] { return false; }, 1000); // let the stream settle

    vm::link::ReaderConnection counter;
    qint64 records = 0;
    QObject::connect(&counter, &vm::link::Connection::OnNewRecord,
                     [&](const vm::link::Record&) { ++records; });
    auto hourReads = [&] {
        qint64 n = 0;
        for (const auto& minute : chart->hourTrend().minutes())
            n += minute.second.reads;
        return n;
    };
    const qint64 chart0 = hourReads();
    film->SetRecording(true);
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    waitFor([&] { return wall.elapsed() >= qint64(seconds) * 1000; }, seconds * 1000 + 1000);
    film->SetRecording(false);
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    const qint64 chartRecords = hourReads() - chart0;
    film->recorder().waitIdle(30000);
    const int files = QDir(images).entryList({"*.tif"}, QDir::Files).size();

    std::printf("reader at %d records/s, all six windows open, %.1f s:\n", rate, elapsed);
    std::printf("  %lld records received (%.1f/s), %lld counted by the chart window\n",
                static_cast<long long>(records), records / elapsed, static_cast<long long>(chartRecords));
    std::printf("  CPU %.0f%% of one core, including the writer thread (%.2f ms per record)\n",
                100.0 * cpu / elapsed, records ? 1000.0 * cpu / double(records) : 0.0);
    std::printf(
        "  recorder: %llu images written (%.1f/s), %llu dropped, %llu failed, %d files in the folder\n",
        static_cast<unsigned long long>(film->recorder().written()),
        double(film->recorder().written()) / elapsed,
        static_cast<unsigned long long>(film->recorder().dropped()),
        static_cast<unsigned long long>(film->recorder().failed()), files);
    std::printf("goal: every record kept and under 50%% of one core; the recorder writes every image, none "
                "dropped\n");

    if (parser.isSet("screenshots")) {
        const QDir folder(parser.value("screenshots"));
        window.UpdateCaptions();
        waitFor([] { return false; }, 600);
        for (QWidget* w : vm::app::windows().loadedWindows())
            w->grab().save(folder.filePath(w->objectName() + QStringLiteral(".png")));
        window.histogramWindow()->grab().save(folder.filePath(QStringLiteral("frmHisto.png")));
        window.grab().save(folder.filePath(QStringLiteral("BasicInterface.png")));
        std::printf("screenshots: %s\n", qPrintable(folder.absolutePath()));
    }

    window.close();
    sim.terminate();
    sim.waitForFinished(3000);
    return 0;
}
