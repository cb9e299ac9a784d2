// Measures the monitoring windows against a simulated reader running as its own process
// at its top rate: with all six windows open, whether every record reaches them and this
// process's CPU use; and whether the filmstrip recorder writes every image. With
// --screenshots it also saves a picture of each window.
//
//   xvfb-run -a bench_tools --rate 120 --seconds 10
//   xvfb-run -a bench_tools --screenshots /tmp/windows

#include "app/imagefiles.h"
#include "app/programstate.h"
#include "app/windowregistry.h"
#include "bench/common/programbench.h"
#include "display/imageview.h"
#include "link/connection.h"
#include "shell/basicinterface.h"
#include "tools/basicchart.h"
#include "tools/filmstriprecorder.h"
#include "tools/frmhisto.h"
#include "tools/imagerecorder.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <optional>

using vm::bench::cpuSeconds;
using vm::bench::waitFor;

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({"rate", "Reader read cycles per second.", "N", "120"});
    parser.addOption({"seconds", "How long to measure.", "S", "10"});
    parser.addOption({"replay", "The reader replays its last image instead of reading (no decoding), so that "
                                "its rate is not bound by the decoder on this machine."});
    parser.addOption({"windows",
                      "Open only these windows (comma-separated menu keys, \"histogram\" for the histogram), "
                      "to see what each costs.",
                      "LIST", "mnuTerminal,mnuReport,mnuChart,mnuFilmstrip,mnuNetworkOverview,histogram"});
    parser.addOption({"image-folder",
                      "Where the recorder saves images. By default a new folder in memory (/dev/shm) where "
                      "the system has one, else in the temporary folder.",
                      "DIR"});
    parser.addOption({"screenshots", "Save a picture of each window in this folder.", "DIR"});
    parser.addOption({"sim", "The simulated reader program.", "PATH", QStringLiteral(LUMIVEX_SIM_PROGRAM)});
    parser.process(app);

    const int rate = parser.value("rate").toInt();
    const int seconds = parser.value("seconds").toInt();
    QTemporaryDir dir;
    vm::bench::ReaderProcess sim;
    if (!sim.start({parser.value("sim"), "Line4", "127.78.0.1", 47380, rate, parser.isSet("replay")}))
        return 1;
    vm::bench::installProgramSettings(dir.path());
    // On a disk, the cost of creating a file depends on what the file system did lately: ext4
    // without a journal, for one, skips every inode freed in the last minutes, and a bench run
    // right after another that deleted its thousand images spends several times as long in
    // the kernel per file. In memory the figure is the program's own.
    std::optional<QTemporaryDir> memoryDir;
    if (!parser.isSet("image-folder") && QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        memoryDir.emplace(QStringLiteral("/dev/shm/bench_tools-XXXXXX"));
    const bool inMemory = memoryDir && memoryDir->isValid();
    const QString images = parser.isSet("image-folder") ? parser.value("image-folder")
                           : inMemory                   ? memoryDir->path()
                                                        : dir.filePath("images");
    QDir().mkpath(images);
    vm::app::setImageSaveDirectory(images);

    vm::shell::BasicInterface window;
    if (!vm::bench::showMainWindowFor(window, "Line4"))
        return 1;
    window.ClickCameraButton("Line4");
    if (!waitFor([&] { return window.imageConnection()->Connected() && vm::app::firmwareLevel() > 0; },
                 10000)) {
        std::fprintf(stderr, "the reader did not connect\n");
        return 1;
    }
    const QStringList keys = parser.value("windows").split(u',', Qt::SkipEmptyParts);
    for (const QString& key : keys) {
        if (key == QLatin1String("histogram"))
            window.ShowHistogramWindow();
        else if (QAction* item = window.action(key))
            item->trigger();
        else {
            std::fprintf(stderr, "no menu item %s\n", qPrintable(key));
            return 1;
        }
    }
    window.findChild<QAction*>("live")->setChecked(true);
    auto* chart = static_cast<vm::tools::BasicChart*>(vm::app::windows().find("BasicChart"));
    auto* film = static_cast<vm::tools::FilmstripRecorder*>(vm::app::windows().find("FilmstripRecorder"));
    waitFor([&] { return window.imageView()->HasImage(); }, 5000);
    waitFor([] { return false; }, 1000); // let the stream settle

    vm::link::ReaderConnection counter;
    vm::bench::RecordTally tally;
    QObject::connect(&counter, &vm::link::Connection::OnNewRecord,
                     [&](const vm::link::Record& record) { tally.add(record.Number()); });
    auto hourReads = [&] {
        qint64 n = 0;
        if (!chart)
            return n;
        for (const auto& minute : chart->hourTrend().minutes())
            n += minute.second.reads;
        return n;
    };
    const qint64 chart0 = hourReads();
    if (film)
        film->SetRecording(true);
    const vm::bench::RepaintCounter repaints;
    const double cpu0 = cpuSeconds();
    const double uiCpu0 = vm::bench::threadCpuSeconds();
    const QString writerName = QString::fromLatin1(vm::tools::ImageRecorder::kThreadName);
    const double writerCpu0 = vm::bench::namedThreadsCpuSeconds(writerName);
    QElapsedTimer wall;
    wall.start();
    waitFor([&] { return wall.elapsed() >= qint64(seconds) * 1000; }, seconds * 1000 + 1000);
    if (film)
        film->SetRecording(false);
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    const double uiCpu = vm::bench::threadCpuSeconds() - uiCpu0;
    const double writerCpu = vm::bench::namedThreadsCpuSeconds(writerName) - writerCpu0;
    const qint64 chartRecords = hourReads() - chart0;
    const qint64 records = tally.received();
    if (film)
        film->recorder().waitIdle(30000);
    const int files = QDir(images).entryList({"*.tif"}, QDir::Files).size();
    const bool writerMeasured = writerCpu0 >= 0.0;

    std::printf("reader at %d records/s, windows open: %s, %.1f s:\n", rate, qPrintable(keys.join(u' ')),
                elapsed);
    std::printf("  %lld records received (%.1f/s), %lld of the reader's numbers missing",
                static_cast<long long>(records), records / elapsed, static_cast<long long>(tally.missing()));
    if (chart)
        std::printf(", %lld counted by the chart window", static_cast<long long>(chartRecords));
    std::printf(
        "\n  CPU %.0f%% of one core, all threads (%.2f ms per record); the user-interface thread %.0f%%",
        100.0 * cpu / elapsed, records ? 1000.0 * cpu / double(records) : 0.0, 100.0 * uiCpu / elapsed);
    if (writerMeasured)
        std::printf(", the recorder's writer %.0f%%, the others %.0f%%\n", 100.0 * writerCpu / elapsed,
                    100.0 * (cpu - uiCpu - writerCpu) / elapsed);
    else
        std::printf(", the others (the recorder's writer among them) %.0f%%\n",
                    100.0 * (cpu - uiCpu) / elapsed);
    std::printf("  windows repainted: %s\n", qPrintable(repaints.rates(elapsed)));
    if (film)
        std::printf(
            "  recorder: %llu images written (%.1f/s), %llu dropped, %llu failed, %d files in the folder\n",
            static_cast<unsigned long long>(film->recorder().written()),
            double(film->recorder().written()) / elapsed,
            static_cast<unsigned long long>(film->recorder().dropped()),
            static_cast<unsigned long long>(film->recorder().failed()), files);
    std::printf("  images saved to %s%s\n", qPrintable(QDir::toNativeSeparators(images)),
                inMemory ? " (in memory; --image-folder to measure on a disk)" : "");
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
    return 0;
}
