// The monitoring windows against simulated readers where their contract tables do not
// reach: top-rate bursts, CSV export, the histogram's painted scale, browsing and failed
// writes of the filmstrip, and the windows as the main window opens them.
#include "app/displaypreferences.h"
#include "app/imagefiles.h"
#include "app/programstate.h"
#include "app/settingsstore.h"
#include "app/windowregistry.h"
#include "app/windowroutines.h"
#include "common/prompts.h"
#include "common/readers.h"
#include "common/waits.h"
#include "display/cameras.h"
#include "display/imageview.h"
#include "display/reportchart.h"
#include "display/reportgrid.h"
#include "display/terminal.h"
#include "display/twips.h"
#include "display/xtermwnd.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "link/wholefile.h"
#include "shell/basicinterface.h"
#include "sim/cycledriver.h"
#include "tools/basicchart.h"
#include "tools/basicreport.h"
#include "tools/basicterminal.h"
#include "tools/filmstriprecorder.h"
#include "tools/frmhisto.h"
#include "tools/imagerecorder.h"
#include "tools/overlays.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenu>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QToolBar>
#include <QValueAxis>

using namespace vm;
using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;

namespace {

sim::ReaderConfig toolReader(const QString& name) {
    sim::ReaderConfig config = testing::readerConfig(name);
    config.commandPort = 0;
    config.dataPort = 0;
    config.publishSerial = false;
    return config;
}

// An image whose columns left of `split` are `leftGrey` and the rest `rightGrey`.
QImage splitImage(int split, int leftGrey, int rightGrey) {
    QImage image(tools::kImageWidth, tools::kImageHeight, QImage::Format_Grayscale8);
    for (int y = 0; y < image.height(); ++y) {
        uchar* line = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x)
            line[x] = uchar(x < split ? leftGrey : rightGrey);
    }
    return image;
}

link::RecordImage recordImage(const QImage& image) {
    return link::RecordImage(image, 1, 0, 0, false);
}

qint64 hourReads(tools::BasicChart& chart) {
    qint64 reads = 0;
    for (const auto& minute : chart.hourTrend().minutes())
        reads += minute.second.reads;
    return reads;
}

} // namespace

class TestTools : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<sim::Simulator> m_sim;
    std::unique_ptr<link::Coordinator> m_coord;

    sim::Reader* reader(int index) const { return m_sim->reader(index); }

    std::pair<tools::BasicReport*, tools::BasicChart*> openReportAndChart() {
        return {
            static_cast<tools::BasicReport*>(app::windows().open(tools::BasicReport::WindowName, nullptr)),
            static_cast<tools::BasicChart*>(app::windows().open(tools::BasicChart::WindowName, nullptr))};
    }

    // The program's main window, loaded as at start.
    std::unique_ptr<shell::BasicInterface> loadMainWindow() {
        auto main = std::make_unique<shell::BasicInterface>();
        main->setProgramVersion("3.0.2.1");
        main->setLegacyFolder(m_dir.filePath("nolegacy"));
        main->Load();
        return main;
    }
    // Closes the main window as the program does on exit, and lets the windows go.
    static void closeMainWindow(std::unique_ptr<shell::BasicInterface>& main) {
        main->close();
        main.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    static tools::FilmstripRecorder* openFilmstrip() {
        return static_cast<tools::FilmstripRecorder*>(
            app::windows().open(tools::FilmstripRecorder::WindowName, nullptr));
    }

    void focus(int index) {
        QTRY_VERIFY_WITH_TIMEOUT(!m_coord->Devices().isEmpty(), 10000);
        testing::focusReader(*m_coord, reader(index)->name());
        link::ReaderConnection probe;
        QTRY_VERIFY_WITH_TIMEOUT(probe.Connected(), 5000);
    }

private slots:
    void initTestCase() {
        qputenv("VELMARROW_STATION", "TOOLS-PC");
        qputenv("VmSplashEnabled", "0");
        m_sim = testing::startSimulator({toolReader("ToolCam1"), toolReader("ToolCam2")});
        QVERIFY(m_sim);
        if (app::windows().windowEntries().empty())
            app::registerWindows(app::windows());
    }

    void cleanupTestCase() { m_sim.reset(); }

    void init() {
        testing::startWindowTest(m_dir.path());
        app::setImageSaveDirectory(m_dir.path());
        for (sim::Reader* r : m_sim->readers()) {
            r->dropControl();
            r->cycles().setRate(sim::CycleDriver::kDefaultRate);
            r->cycles().setOnline(true);
        }
        m_coord = std::make_unique<link::Coordinator>();
        m_coord->StartDiscovery();
    }

    void cleanup() {
        for (QWidget* w : app::windows().loadedWindows())
            app::ShowRestoredWindow(w, false);
        if (m_coord)
            m_coord->Focus(QString());
        m_coord.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        app::setControlPassword(QString());
        app::installSettings(nullptr);
    }

    // ------------------------------------------------------------ report and chart

    void reportAndChartKeepUpAtTopRate() {
        focus(0);
        auto [report, chart] = openReportAndChart();
        QVERIFY(report && chart);

        link::ReaderConnection counter;
        QSignalSpy records(&counter, &link::Connection::OnNewRecord);
        QSignalSpy delivered(reader(0), &sim::Reader::recordDelivered);
        reader(0)->cycles().setRate(120);
        // Two seconds' worth of records at 120 per second.
        QTRY_VERIFY_WITH_TIMEOUT(records.count() >= 240, 20000);
        reader(0)->cycles().setOnline(false);
        QTRY_VERIFY(!delivered.isEmpty());
        // The reader sends a record when its report rate allows, so the newest one the
        // program received is the one the grid must end on.
        auto newest = [&] {
            return QString::number(records.constLast().at(0).value<link::Record>().Number());
        };
        QTRY_COMPARE(report->grid()->item(0, display::ReportGrid::ImageColumn)->text(), newest());
        // Bursts collapse to one row, so the rows are at most one per record.
        QVERIFY(report->grid()->rowCount() >= 1);
        QVERIFY(report->grid()->rowCount() <=
                std::min<qsizetype>(records.count(), report->grid()->MaxRows()));
        QVERIFY(!report->hasPending());
        QTRY_COMPARE(hourReads(*chart), qint64(records.count()));
        QTRY_VERIFY(!chart->hasPending());
        QVERIFY(chart->chart()->DecodeTimePoints().size() >= 1);
        QVERIFY(chart->chart()->DecodeTimePoints().size() <= records.count());

        // The hour view (its minutes and reads are pinned by the chart's table).
        chart->SetView(tools::BasicChart::HourView);
        // The decode time has its own axis, scaled to the slowest minute's mean (a few
        // milliseconds at the least), not to the hundreds of reads: its line stays readable.
        double slowest = 0;
        for (const QPointF& p : chart->hourDecodeSeries()->points())
            slowest = std::max(slowest, p.y());
        auto* timeAxis = qobject_cast<QValueAxis*>(chart->hourDecodeSeries()->attachedAxes().value(1));
        QVERIFY(timeAxis && timeAxis->orientation() == Qt::Vertical);
        QVERIFY2(
            timeAxis->max() >= slowest && timeAxis->max() <= std::max(slowest, 10.0) * 1.5,
            qPrintable(
                QStringLiteral("axis to %1 ms, slowest minute %2 ms").arg(timeAxis->max()).arg(slowest)));
    }

    // A steady stream faster than the windows' short timers is drawn while it lasts: each
    // record replaces the waiting one without putting the drawing off again.
    void reportAndChartDrawWhileRecordsKeepComing() {
        focus(0);
        auto [report, chart] = openReportAndChart();
        QVERIFY(report && chart);
        // Real records of the reader, then the reader quiet, so that only the replay below
        // reaches the windows.
        link::ReaderConnection counter;
        QSignalSpy records(&counter, &link::Connection::OnNewRecord);
        reader(0)->cycles().setRate(120);
        QTRY_VERIFY_WITH_TIMEOUT(records.count() >= 20, 20000);
        reader(0)->cycles().setOnline(false);
        QTRY_VERIFY(!report->hasPending() && !chart->hasPending());

        // The records again, 200 of them one every 3 ms, through the windows' own connections.
        QSignalSpy reportDraws(&report->updateTimer(), &QTimer::timeout);
        QSignalSpy chartDraws(&chart->updateTimer(), &QTimer::timeout);
        QTimer feed;
        feed.setTimerType(Qt::PreciseTimer);
        int sent = 0;
        connect(&feed, &QTimer::timeout, this, [&] {
            const auto record = records.at(sent % records.count()).at(0).value<link::Record>();
            emit report->connection()->OnNewRecord(record);
            emit chart->connection()->OnNewRecord(record);
            ++sent;
        });
        feed.start(3);
        QTRY_VERIFY_WITH_TIMEOUT(sent >= 200, 10000);
        feed.stop();
        // The report draws every 10 ms and the chart every 30 ms while the stream lasts; a
        // loaded machine may miss some, so a third of them is asked for.
        QVERIFY2(reportDraws.count() >= 20, qPrintable(QString::number(reportDraws.count())));
        QVERIFY2(chartDraws.count() >= 6, qPrintable(QString::number(chartDraws.count())));
    }

    void hourTrendForgetsMinutesOlderThanAnHour() {
        qint64 now = 0;
        tools::HourTrend trend([&now] { return now; });
        trend.add(true, 4.0);
        trend.add(false, 6.0);
        now = 59 * 60000;
        trend.add(true, 1.0);
        auto minutes = trend.minutes();
        QCOMPARE(minutes.size(), 2);
        QCOMPARE(minutes.at(0).first, -59);
        QCOMPARE(minutes.at(0).second.reads, 2u);
        QCOMPARE(minutes.at(0).second.passes, 1u);
        QCOMPARE(minutes.at(0).second.decodeMsTotal, 10.0);
        // One minute later the first minute falls out, and its bucket is reused.
        now = 60 * 60000;
        trend.add(true, 2.0);
        minutes = trend.minutes();
        QCOMPARE(minutes.size(), 2);
        QCOMPARE(minutes.at(0).first, -1);
        QCOMPARE(minutes.at(1).first, 0);
        QCOMPARE(minutes.at(1).second.reads, 1u);
    }

    void reportCsvExport() {
        focus(0);
        auto* report =
            static_cast<tools::BasicReport*>(app::windows().open(tools::BasicReport::WindowName, nullptr));
        QTRY_VERIFY(report->grid()->rowCount() >= 2);
        const QString path = m_dir.filePath("report.csv");
        report->setFileChooser([path](QWidget*) { return path; });
        report->exportButton()->trigger();
        const int rows = report->grid()->rowCount();
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), rows + 1);
        QVERIFY(lines.at(1).startsWith(report->grid()->item(0, 0)->text() + ","));
        QCOMPARE(lines.at(1).count(','),
                 display::ReportGrid::ColumnCount - 1 +
                     int(report->grid()->item(0, display::ReportGrid::TextColumn)->text().count(',')));

        // A folder that cannot hold the file: the operator is told, nothing is half-written.
        const QString bad = m_dir.filePath("missing/report.csv");
        QString reason;
        QVERIFY(!link::writeWholeFile(bad, QByteArray("x"), &reason));
        {
            testing::ExpectPrompts boxes;
            boxes->expectMessage("Velmarrow", "The report could not be saved as " + bad + ": " + reason,
                                 PromptIcon::Exclamation, PromptButtons::Ok, PromptAnswer::Ok);
            QVERIFY(!report->ExportCsv(bad));
        }
        QVERIFY(!QFile::exists(bad));
    }

    // ------------------------------------------------------------ histogram

    // The figures are pinned by the histogram's table; here, that the scale on screen is
    // repainted whenever the chart's maximum changes, and only then needed.
    void histogramScaleOnScreenFollowsTheFigures() {
        tools::frmHisto histo;
        histo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&histo));
        auto* scale = histo.findChild<QWidget*>("picVscale");
        const auto scaleOnScreen = [&] {
            return histo.screen()
                ->grabWindow(histo.winId())
                .toImage()
                .copy(scale->geometry())
                .convertToFormat(QImage::Format_RGB32);
        };
        const auto scaleNow = [&] { return scale->grab().toImage().convertToFormat(QImage::Format_RGB32); };
        // A scale of 500, then 200, then none.
        histo.UpdateHistogram(10, 10, 30, 30, recordImage(splitImage(0, 0, 200)));
        QTRY_COMPARE(scaleOnScreen(), scaleNow());
        histo.UpdateHistogram(310, 0, 330, 10, recordImage(splitImage(320, 100, 200)));
        QTRY_COMPARE(scaleOnScreen(), scaleNow());
        histo.UpdateHistogram(40, 10, 40, 30, recordImage(splitImage(0, 0, 200)));
        QTRY_COMPARE(scaleOnScreen(), scaleNow());
    }

    // ------------------------------------------------------------ in the main window

    static QStringList monitorWindows() {
        QStringList names = app::windows().loadedWindowNames();
        names.removeAll(QString::fromLatin1(shell::BasicInterface::WindowName));
        return names;
    }

    void mainWindowOpensFollowsAndReopensTheWindows() {
        testing::ExpectPrompts noBoxes;
        auto main = loadMainWindow();
        main->show();

        const QStringList items = {"mnuTerminal", "mnuReport", "mnuChart", "mnuNetworkOverview"};
        for (const QString& key : items) {
            QAction* item = main->action(key);
            QVERIFY2(item, qPrintable(key));
            QVERIFY(item->isEnabled());
            item->trigger();
        }
        QCOMPARE(monitorWindows(),
                 (QStringList{"BasicTerminal", "BasicReport", "BasicChart", "NetworkOverview"}));
        auto* view = main->findChild<QToolBar*>("ViewToolbar");
        QVERIFY(view);
        for (const char* key : {"view:terminal", "view:reports", "view:chart", "view:network"}) {
            QAction* button = view->findChild<QAction*>(key);
            QVERIFY2(button, key);
            QTRY_VERIFY(button->isChecked());
        }

        // Switching readers keeps every window open, and each follows the new reader.
        QVERIFY(main->AddCameraButton("ToolCam1"));
        QVERIFY(main->AddCameraButton("ToolCam2"));
        QTRY_VERIFY_WITH_TIMEOUT(main->coordinator()->Devices().size() >= 2, 10000);
        main->ClickCameraButton("ToolCam1");
        QTRY_VERIFY(main->imageConnection()->Connected());
        auto* report = static_cast<tools::BasicReport*>(app::windows().find("BasicReport"));
        QTRY_VERIFY(report->grid()->rowCount() > 0);
        main->ClickCameraButton("ToolCam2");
        QTRY_COMPARE(main->coordinator()->FocusedDevice()->Name(), QString("ToolCam2"));
        QCOMPARE(monitorWindows().size(), 4);
        auto* terminal = static_cast<tools::BasicTerminal*>(app::windows().find("BasicTerminal"));
        QTRY_VERIFY(terminal->terminal()->Output()->toPlainText().contains("-- Connected to ToolCam2"));
        QTRY_VERIFY(report->windowTitle().startsWith("ToolCam2 - "));
        QSignalSpy reportRecords(report->connection(), &link::Connection::OnNewRecord);
        QVERIFY(reportRecords.wait(5000));
        QTRY_VERIFY(report->grid()->rowCount() > 0);

        // Closed with the program, opened again with it.
        closeMainWindow(main);
        QVERIFY(monitorWindows().isEmpty());
        main = loadMainWindow();
        QCOMPARE(monitorWindows(),
                 (QStringList{"BasicTerminal", "BasicReport", "BasicChart", "NetworkOverview"}));
        closeMainWindow(main);
    }

    // The main window hands the histogram its region and its images. (The figures of a region
    // are pinned by the histogram's table; the item's caption by tst_windows; the region on
    // the image coming and going with the window by tst_mainwindow.)
    void histogramFollowsTheRegionAndTheImage() {
        testing::ExpectPrompts noBoxes;
        auto main = loadMainWindow();
        QAction* item = main->action("mnuHistogram");
        QVERIFY(item);
        main->imageView()->SetImage(splitImage(320, 50, 200));
        item->trigger();
        tools::frmHisto* histo = main->histogramWindow();
        QVERIFY(histo && histo->isVisible());
        // The region starts at 100,100 - 300,300: all 50.
        QCOMPARE(histo->minMaxText(), QString("050 / 050"));
        QCOMPARE(histo->highPeakText(), QString("040000"));

        // Dragged over the edge: 120 columns of 50, 80 of 200.
        main->histogramRegion()->MoveRelative(100, 0);
        QCOMPARE(histo->minMaxText(), QString("050 / 200"));
        QCOMPARE(histo->highPeakText(), QString("024000"));

        // A new image from the reader is handed over as it arrives.
        // The camera buttons of the previous test are kept in the settings.
        QVERIFY(main->cameraList().contains("ToolCam1") || main->AddCameraButton("ToolCam1"));
        QTRY_VERIFY_WITH_TIMEOUT(!main->coordinator()->Devices().isEmpty(), 10000);
        main->ClickCameraButton("ToolCam1");
        QTRY_VERIFY(main->imageConnection()->Connected());
        // The connection-reset refresh, which stops live display, has run.
        QTRY_VERIFY(app::firmwareLevel() > 0);
        main->SetLive(true);
        QTRY_VERIFY_WITH_TIMEOUT(histo->minMaxText() != QString("050 / 200"), 10000);
        closeMainWindow(main);
    }

    // ------------------------------------------------------------ filmstrip recorder

    // The recorder draws results with the Preferences' colours, mode and font, as the main view
    // does, and follows a change of them.
    void filmstripDrawsWithTheDisplayPreferences() {
        app::SettingsStore& store = app::settings();
        store.setNumber(app::keys::PassColor, 0x123456);
        store.setNumber(app::keys::FailColor, 0x654321);
        store.setNumber(app::keys::FontColor, 0x00ABCD);
        store.setFlag(app::keys::TopTextMode, true);
        store.setText(app::keys::ResultFont, QStringLiteral("DejaVu Sans,11,1,0,0,0"));
        auto* film = openFilmstrip();
        QVERIFY(film);
        const display::DisplaySettings& shown = film->imageView()->Settings();
        QCOMPARE(shown.passColor, 0x123456u);
        QCOMPARE(shown.failColor, 0x654321u);
        QCOMPARE(shown.textColor, 0x00ABCDu);
        QVERIFY(shown.topText);
        QCOMPARE(shown.resultFont.family(), QStringLiteral("DejaVu Sans"));
        QCOMPARE(shown.resultFont.pointSizeF(), 11.0);
        QVERIFY(shown.resultFont.bold());

        store.setNumber(app::keys::PassColor, 0x00FF00);
        store.setFlag(app::keys::TopTextMode, false);
        app::displayPreferences().announceChange();
        QCOMPARE(film->imageView()->Settings().passColor, 0x00FF00u);
        QVERIFY(!film->imageView()->Settings().topText);
    }

    // What each filter, stop and go show and save, image by image, is pinned by the filmstrip's
    // table; here, a stream at the reader's own rate: every image is saved and the kept ones
    // browse back and forward.
    void filmstripRecordsAStreamAndBrowses() {
        focus(0);
        testing::ExpectPrompts noBoxes;
        auto* film = openFilmstrip();
        QVERIFY(film && !film->isStopped());

        // Every image is shown and saved. (Their names and contents are pinned by the
        // filmstrip's table.)
        QSignalSpy written(&film->recorder(), &tools::ImageRecorder::fileWritten);
        film->button("record")->trigger();
        QVERIFY(film->isRecording());
        QTRY_VERIFY(written.count() >= 5);
        film->button("record")->trigger();
        QVERIFY(!film->isRecording());
        QVERIFY(film->recorder().waitIdle(5000));
        QCOMPARE(film->recorder().dropped(), quint64(0));
        QCOMPARE(film->recorder().failed(), quint64(0));
        const QStringList files = QDir(m_dir.path()).entryList({"*.tif"}, QDir::Files, QDir::Name);
        QCOMPARE(quint64(files.size()), film->recorder().written());
        // The numbers follow one another, none missing.
        const int first = files.first().mid(9, 9).toInt();
        QCOMPARE(files.last().mid(9, 9).toInt(), first + files.size() - 1);
        QVERIFY(QDir(m_dir.path()).entryList({"*.tmp", ".*"}, QDir::Files | QDir::Hidden).isEmpty());

        // The kept images browse back and forward; back holds the picture as new ones come.
        QTRY_VERIFY(film->keptCount() >= 4);
        const qint64 newest = film->shownRecord()->Number();
        film->button("back")->trigger();
        film->button("back")->trigger();
        QCOMPARE(film->browsePosition(), 2);
        auto* position = film->findChild<QLabel*>("lblPosition");
        // Browsing back, the shown image moves back as new ones come: the label follows both.
        QTRY_COMPARE(position->text(),
                     QString("%1 back of %2").arg(film->browsePosition()).arg(film->keptCount()));
        const qint64 held = film->shownRecord()->Number();
        QVERIFY(held < newest);
        const int kept = film->keptCount();
        QTRY_VERIFY(film->keptCount() > kept || film->keptCount() == tools::FilmstripRecorder::kRingSize);
        QCOMPARE(film->imageView()->CurrentRecord()->Number(), held);
        QCOMPARE(film->shownRecord()->Number(), held);
        // Each step forward tells how far back the picture is; one back is not the newest.
        while (film->browsePosition() > 0) {
            film->button("forward")->trigger();
            if (film->browsePosition() > 0)
                QCOMPARE(position->text(),
                         QString("%1 back of %2").arg(film->browsePosition()).arg(film->keptCount()));
        }
        QVERIFY(!film->button("forward")->isEnabled());
        QTRY_COMPARE(position->text(), QString("Newest of %1").arg(film->keptCount()));
        QTRY_VERIFY(film->imageView()->CurrentRecord()->Number() > newest);
        // The ring stays bounded.
        reader(0)->cycles().setRate(sim::CycleDriver::kMaxRate);
        QTRY_COMPARE_WITH_TIMEOUT(film->keptCount(), tools::FilmstripRecorder::kRingSize, 10000);
        // Back goes no further than the oldest image kept: there it is greyed.
        for (int i = 0; i < tools::FilmstripRecorder::kRingSize && film->button("back")->isEnabled(); ++i)
            film->button("back")->trigger();
        QCOMPARE(film->browsePosition(), tools::FilmstripRecorder::kRingSize - 1);
        QVERIFY(!film->button("back")->isEnabled());
        QVERIFY(film->button("forward")->isEnabled());
    }

    void recorderDropsWhatTheDiskCannotTakeWithoutWaiting() {
        // A burst of far more images than the queue holds, as when the disk falls behind: the
        // caller never waits, the overflow is counted, what was queued is written whole, and
        // the filmstrip says how many were not saved.
        auto* film = openFilmstrip();
        film->button("stop")->trigger(); // no live image joins the burst
        film->SetRecording(true);
        const QString folder = m_dir.filePath("burst");
        QVERIFY(QDir().mkpath(folder));
        tools::ImageRecorder& recorder = film->recorder();
        const quint64 dropped = recorder.dropped();
        QImage picture(tools::kImageWidth, tools::kImageHeight, QImage::Format_Grayscale8);
        picture.fill(90);
        const link::RecordImage image(picture, 1, 0, 0, false);
        constexpr int kBurst = 1000;
        int refused = 0;
        for (int i = 0; i < kBurst; ++i)
            if (!recorder.enqueue(image, QString("%1/burst_%2.tif").arg(folder).arg(i)))
                ++refused;
        QVERIFY2(refused >= kBurst - 2 * tools::ImageRecorder::kMaxQueued,
                 qPrintable(QString::number(refused)));
        QCOMPARE(recorder.dropped() - dropped, quint64(refused));
        QVERIFY(recorder.waitIdle(30000));
        const QStringList files = QDir(folder).entryList({"burst_*.tif"}, QDir::Files);
        QCOMPARE(files.size(), kBurst - refused);
        QCOMPARE(QImage(QDir(folder).filePath(files.first())).size(), picture.size());
        QVERIFY(QDir(folder).entryList({"*.part"}, QDir::Files | QDir::Hidden).isEmpty());

        auto* notSaved = film->findChild<QLabel*>("lblNotSaved");
        QVERIFY(notSaved);
        film->button("go")->trigger();
        QTRY_COMPARE(notSaved->text(), QString("%1 not saved: the disk could not keep up").arg(refused));
        QVERIFY(notSaved->isVisible());
        // Switching recording on again starts a new count.
        film->SetRecording(false);
        film->SetRecording(true);
        QVERIFY(notSaved->isHidden());
        film->SetRecording(false);
    }

    // The folder goes: recording stops and the operator is told once. (Which images the
    // filters keep and the files' names are pinned by the filmstrip's table.)
    void filmstripStopsOnAFailedWrite() {
        focus(1);
        auto* film = openFilmstrip();
        // The reader pauses so that the next image's number is known.
        link::ImageConnection images;
        QSignalSpy records(&images, &link::Connection::OnNewRecord);
        QSignalSpy delivered(reader(1), &sim::Reader::recordDelivered);
        QVERIFY(delivered.wait(5000));
        reader(1)->cycles().setOnline(false);
        QTRY_VERIFY(!records.isEmpty() && records.constLast().at(0).value<link::Record>().Number() ==
                                              delivered.constLast().at(0).toLongLong());
        app::setImageSaveDirectory(m_dir.filePath("gone"));
        const QString path = QString("%1/ToolCam2_%2.tif")
                                 .arg(m_dir.filePath("gone"))
                                 .arg(reader(1)->cycles().lastNumber() + 1, 9, 10, QLatin1Char('0'));
        QString reason;
        QVERIFY(!link::writeWholeFile(path, QByteArray("x"), &reason));
        {
            testing::ExpectPrompts boxes;
            boxes->expectMessage("Velmarrow",
                                 "Recording stopped: the image could not be saved as " + path + ": " + reason,
                                 PromptIcon::Exclamation, PromptButtons::Ok, PromptAnswer::Ok);
            film->SetRecording(true);
            reader(1)->cycles().runOnce();
            QTRY_VERIFY(!film->isRecording());
            QCOMPARE(film->recorder().failed(), quint64(1));
        }
        QVERIFY(!QFile::exists(path));
        reader(1)->cycles().setOnline(true);
    }

    // ------------------------------------------------------------ network overview

    // A plant's network: 120 readers are listed, sorted by name as people read them (Hall2
    // before Hall10) and by address on a click of its header, each with its controlling
    // station; typing part of a name narrows the rows to the readers that have it, and the
    // answers of a discovery burst are gathered into a few refreshes, not one per reader.
    void overviewListsSortsAndFiltersAFleet() {
        constexpr int kReaders = 120;
        QList<sim::ReaderConfig> configs;
        // Names run against the addresses: sorting by address turns the name order round.
        for (int i = kReaders; i >= 1; --i) {
            sim::ReaderConfig c = testing::readerConfig(QStringLiteral("Hall%1").arg(i));
            c.idleWithoutClients = true;
            configs << c;
        }
        const QByteArray targets = qgetenv("VELMARROW_DISCOVERY_TARGETS");
        auto restore = qScopeGuard([&] { qputenv("VELMARROW_DISCOVERY_TARGETS", targets); });
        std::unique_ptr<sim::Simulator> hall = testing::startSimulator(configs);
        QVERIFY(hall);
        sim::Reader* held = hall->reader(kReaders - 42); // Hall42
        QCOMPARE(held->name(), QStringLiteral("Hall42"));
        held->takeControl(QStringLiteral("LINE-PC"));

        auto* window = static_cast<tools::NetworkOverview*>(
            app::windows().open(tools::NetworkOverview::WindowName, nullptr));
        QVERIFY(window);
        display::Cameras* table = window->cameras();
        QSignalSpy counts(table, &display::Cameras::countsChanged);
        // The hall's rows, top to bottom, by the column's text.
        const QRegularExpression hallName("^Hall\\d+$");
        auto hallRows = [&](int column, bool shownOnly) {
            QStringList texts;
            for (int r = 0; r < table->rowCount(); ++r) {
                if (!table->item(r, display::Cameras::NameColumn) ||
                    !hallName.match(table->item(r, display::Cameras::NameColumn)->text()).hasMatch() ||
                    (shownOnly && table->isRowHidden(r)))
                    continue;
                texts << table->item(r, column)->text();
            }
            return texts;
        };
        QTRY_COMPARE_WITH_TIMEOUT(hallRows(display::Cameras::NameColumn, false).size(), kReaders,
                                  testing::kDiscoveryWaitMs);
        QStringList byName;
        for (int i = 1; i <= kReaders; ++i)
            byName << QStringLiteral("Hall%1").arg(i);
        QCOMPARE(hallRows(display::Cameras::NameColumn, false), byName);
        QVERIFY2(counts.size() < 30, qPrintable(QString::number(counts.size())));
        // The station holding Hall42 is listed; the filter finds readers by it below.
        QTRY_COMPARE(table
                         ->item(table->row(table->findItems("Hall42", Qt::MatchExactly).first()),
                                display::Cameras::ControllerColumn)
                         ->text(),
                     QStringLiteral("LINE-PC"));
        // Opened at its first size, the window shows a plant's readers fifteen rows at a time
        // or more, not a handful.
        QVERIFY2(table->rowViewportPosition(14) + table->rowHeight(14) <= table->viewport()->height(),
                 qPrintable(QString::number(table->viewport()->height())));

        // A click on the address header sorts by address: the last-named reader has the
        // first address. A second click turns it round.
        QHeaderView* header = table->horizontalHeader();
        const auto clickHeader = [&](int column) {
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                              QPoint(header->sectionViewportPosition(column) + 4, header->height() / 2));
        };
        clickHeader(display::Cameras::AddressColumn);
        QStringList reversed = byName;
        std::reverse(reversed.begin(), reversed.end());
        QCOMPARE(hallRows(display::Cameras::NameColumn, false), reversed);
        clickHeader(display::Cameras::AddressColumn);
        QCOMPARE(hallRows(display::Cameras::NameColumn, false), byName);
        // The order holds through the next refreshes.
        table->Refresh();
        QCOMPARE(hallRows(display::Cameras::NameColumn, false), byName);
        clickHeader(display::Cameras::NameColumn);
        QCOMPARE(hallRows(display::Cameras::NameColumn, false), byName);

        // Part of a name, in any case, leaves the readers that have it.
        QVERIFY(window->filter()->isVisible());
        QCOMPARE(QAccessible::queryAccessibleInterface(window->filter())->text(QAccessible::Name),
                 QStringLiteral("Filter readers"));
        QTest::keyClicks(window->filter(), "ALL11");
        QCOMPARE(hallRows(display::Cameras::NameColumn, true),
                 (QStringList{"Hall11", "Hall110", "Hall111", "Hall112", "Hall113", "Hall114", "Hall115",
                              "Hall116", "Hall117", "Hall118", "Hall119"}));
        QCOMPARE(table->shownCount(), 11);
        // The filter holds for the refreshes that follow.
        table->Refresh();
        QCOMPARE(table->shownCount(), 11);
        // A station is found as well as a name; Down goes on to the first reader left.
        window->filter()->clear();
        QTest::keyClicks(window->filter(), "line-pc");
        QCOMPARE(hallRows(display::Cameras::NameColumn, true), QStringList{"Hall42"});
        window->activateWindow();
        window->filter()->setFocus();
        QTest::keyClick(window->filter(), Qt::Key_Down);
        QCOMPARE(table->currentRow(), table->row(table->findItems("Hall42", Qt::MatchExactly).first()));
        // It lands on the reader's name: the cell a screen reader announces.
        QAccessibleInterface* landed = QAccessible::queryAccessibleInterface(table)->focusChild();
        QVERIFY(landed);
        QCOMPARE(landed->text(QAccessible::Name), QStringLiteral("Hall42"));
        window->filter()->clear();
        QCOMPARE(hallRows(display::Cameras::NameColumn, true).size(), kReaders);
        app::ShowRestoredWindow(window, false);
    }
};

QTEST_MAIN(TestTools)
#include "tst_tools.moc"
