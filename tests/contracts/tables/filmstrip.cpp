// Filmstrip recorder: shows the reader's images that pass the chosen filter and, while
// recording, saves them. It binds no reader field; its checks pin, for records from the
// reader, which are shown and which saved under which names, the filter lists with and
// without verification, and the toolbar's states.
#include "app/imagefiles.h"
#include "app/programstate.h"
#include "app/settingsstore.h"
#include "contracts/contract.h"
#include "contracts/tables/monitoring.h"
#include "display/imageview.h"
#include "link/device.h"
#include "sim/catalogue.h"
#include "tools/dlgselectfolder.h"
#include "tools/filmstriprecorder.h"
#include "tools/imagerecorder.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>

namespace vm::contracts {

namespace {

using monitoring::Records;
using tools::FilmstripRecorder;

const QString kFilmstrip = QStringLiteral("FilmstripRecorder");
const QStringList kPassFail = {"Passed + Failed", "Failed Only", "Passed Only"};
const QStringList kVerify = {"Verify Good, Fair, Poor, Failed",
                             "Verify Good, Fair, Poor",
                             "Verify Good, Fair",
                             "Verify Good",
                             "Verify Fair",
                             "Verify Poor",
                             "Verify Failed",
                             "Verify Poor, Failed",
                             "Verify Fair, Poor, Failed"};

FilmstripRecorder* film(Stage& stage) {
    return qobject_cast<FilmstripRecorder*>(stage.window());
}

QComboBox* filter(Stage& stage) {
    return qobject_cast<QComboBox*>(stage.control(QStringLiteral("Filter")));
}

// The toolbar button as the operator clicks it.
void click(Stage& stage, const QString& key) {
    QAction* action = film(stage)->button(key);
    QVERIFY2(action && action->isEnabled(), qPrintable(key));
    action->trigger();
}

qint64 shownNumber(Stage& stage) {
    const auto& record = film(stage)->imageView()->CurrentRecord();
    return record ? record->Number() : -1;
}

// The file a record is saved as: folder, reader name, "_", nine digits, extension.
QString fileOf(Stage& stage, const QString& folder, qint64 number, const QString& extension) {
    return folder + QLatin1Char('/') + stage.station().Device()->Name() + QLatin1Char('_') +
           QStringLiteral("%1").arg(number, 9, 10, QLatin1Char('0')) + extension;
}

QStringList savedFiles(const QString& folder) {
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

// A read (contrast 90) or a failed read (nothing printed); the record as it arrived.
link::Record cycleOf(Stage& stage, Records& records, bool printed) {
    monitoring::printSymbol(stage, printed);
    link::Record r;
    if (!records.cycle(stage, &r))
        qWarning("no record came");
    return r;
}

void passFailFiltersAndFiles(Stage& stage) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("film"));
    QVERIFY(QDir().mkpath(folder));
    // Given with its separator: the file names get no second one.
    app::setImageSaveDirectory(folder + QLatin1Char('/'));
    monitoring::startQuietReader(stage, QStringLiteral("FILM"));
    Records records;
    QVERIFY(stage.open(kFilmstrip));
    QCOMPARE(stage.window()->windowTitle().section(QStringLiteral(" - "), -1),
             QStringLiteral("Filmstrip Recorder"));
    QCOMPARE(testing::entries(filter(stage)), kPassFail);
    QCOMPARE(filter(stage)->currentText(), kPassFail[0]);
    QCOMPARE(film(stage)->buttonImage("go"), QStringLiteral("go-lit"));
    QCOMPARE(film(stage)->buttonImage("stop"), QStringLiteral("stop"));
    QCOMPARE(film(stage)->buttonImage("record"), QStringLiteral("record"));

    // Cancel in the folder picker returns no folder: the image folder stays as it was,
    // stored setting included.
    const QString stored = app::settings().text(app::keys::ImageSaveDirectory);
    stage.dialogs().expect(QStringLiteral("dlgSelectFolder"), [](QDialog& d) {
        auto* picker = qobject_cast<tools::dlgSelectFolder*>(&d);
        QVERIFY(picker);
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("btnCancel")), Qt::LeftButton);
        QCOMPARE(picker->Folder(), QString());
    });
    click(stage, QStringLiteral("folder"));
    QCOMPARE(app::imageSaveDirectory(), folder + QLatin1Char('/'));
    QCOMPARE(app::settings().text(app::keys::ImageSaveDirectory), stored);

    // Not recording: shown, never saved.
    link::Record r = cycleOf(stage, records, true);
    QTRY_COMPARE(shownNumber(stage), r.Number());
    QVERIFY(savedFiles(folder).isEmpty());

    click(stage, QStringLiteral("record"));
    QVERIFY(film(stage)->button("record")->isChecked());
    // Each filter with a read and a failed read: which are shown and which saved.
    QStringList expected;
    struct Case {
        QString item;
        bool keepPassed, keepFailed;
    };
    for (const Case& c :
         {Case{kPassFail[1], false, true}, Case{kPassFail[2], true, false}, Case{kPassFail[0], true, true}}) {
        testing::choose(filter(stage), c.item);
        for (bool printed : {true, false}) {
            const qint64 before = shownNumber(stage);
            const link::Record record = cycleOf(stage, records, printed);
            QCOMPARE(record.Passed(), printed);
            const bool kept = printed ? c.keepPassed : c.keepFailed;
            if (kept) {
                expected << fileOf(stage, folder, record.Number(), ".tif").section('/', -1);
                QTRY_COMPARE(shownNumber(stage), record.Number());
            } else {
                QVERIFY(film(stage)->recorder().waitIdle(5000));
                QCOMPARE(shownNumber(stage), before);
            }
            QVERIFY(film(stage)->recorder().waitIdle(5000));
            QVERIFY2(savedFiles(folder) == expected,
                     qPrintable(c.item + ": " + savedFiles(folder).join(" ")));
        }
    }
    // The saved file is the whole image as the reader sent it.
    const link::Record last = records.last();
    QImage saved(fileOf(stage, folder, last.Number(), ".tif"));
    QCOMPARE(saved.convertToFormat(QImage::Format_Grayscale8), last.Image().image());

    // The image save format preference: BMP.
    app::settings().setText(app::keys::ImageSaveFormat, QStringLiteral("BMP"));
    const link::Record bmp = cycleOf(stage, records, true);
    QVERIFY(film(stage)->recorder().waitIdle(5000));
    QTRY_VERIFY(QFile::exists(fileOf(stage, folder, bmp.Number(), ".bmp")));
    QCOMPARE(QImage(fileOf(stage, folder, bmp.Number(), ".bmp")).convertToFormat(QImage::Format_Grayscale8),
             bmp.Image().image());
    app::settings().setText(app::keys::ImageSaveFormat, QStringLiteral("TIF"));

    // Stopped: nothing shown or saved, recording or not, until go.
    click(stage, QStringLiteral("stop"));
    QCOMPARE(film(stage)->buttonImage("stop"), QStringLiteral("stop-lit"));
    QCOMPARE(film(stage)->buttonImage("go"), QStringLiteral("go"));
    QVERIFY(film(stage)->button("stop")->isChecked());
    QVERIFY(!film(stage)->button("go")->isChecked());
    const qint64 held = shownNumber(stage);
    const int files = int(savedFiles(folder).size());
    cycleOf(stage, records, true);
    cycleOf(stage, records, false);
    QVERIFY(film(stage)->recorder().waitIdle(5000));
    QCOMPARE(shownNumber(stage), held);
    QCOMPARE(savedFiles(folder).size(), files);
    // The record button does not blink while stopped: its picture stays for two blinks.
    QCOMPARE(film(stage)->buttonImage("record"), QStringLiteral("rec"));
    QSignalSpy redrawn(film(stage)->button("record"), &QAction::changed);
    QVERIFY(!redrawn.wait(2 * FilmstripRecorder::kRecBlinkMs + 100));
    QCOMPARE(film(stage)->buttonImage("record"), QStringLiteral("rec"));
    click(stage, QStringLiteral("go"));
    QCOMPARE(film(stage)->buttonImage("go"), QStringLiteral("go-lit"));
    const link::Record resumed = cycleOf(stage, records, true);
    QTRY_COMPARE(shownNumber(stage), resumed.Number());
    QTRY_VERIFY(QFile::exists(fileOf(stage, folder, resumed.Number(), ".tif")));
    // Recording and running: the record button alternates between its two lit images.
    QTRY_COMPARE(film(stage)->buttonImage("record"), QStringLiteral("rec-lit"));
    QTRY_COMPARE(film(stage)->buttonImage("record"), QStringLiteral("rec-red"));
    // Recording off: the next image is shown and not saved.
    click(stage, QStringLiteral("record"));
    QCOMPARE(film(stage)->buttonImage("record"), QStringLiteral("record"));
    const int before = int(savedFiles(folder).size());
    const link::Record notSaved = cycleOf(stage, records, true);
    QTRY_COMPARE(shownNumber(stage), notSaved.Number());
    QVERIFY(film(stage)->recorder().waitIdle(5000));
    QCOMPARE(savedFiles(folder).size(), before);

    // The picker opens on the image folder; its list leads up with "..", and Enter on an entry
    // opens that folder without closing the picker, so the keyboard can walk the folders: up,
    // then the film folder again by typing its name, and OK.
    stage.dialogs().expect(QStringLiteral("dlgSelectFolder"), [folder](QDialog& d) {
        auto* dirs = d.findChild<QListView*>(QStringLiteral("dirs"));
        auto* model = qobject_cast<QFileSystemModel*>(dirs->model());
        QCOMPARE(model->filePath(dirs->rootIndex()), folder);
        const auto upEntry = [&] {
            for (int row = 0; row < model->rowCount(dirs->rootIndex()); ++row)
                if (model->fileName(model->index(row, 0, dirs->rootIndex())) == QStringLiteral(".."))
                    return model->index(row, 0, dirs->rootIndex());
            return QModelIndex();
        };
        QTRY_VERIFY(upEntry().isValid());
        dirs->setFocus();
        dirs->setCurrentIndex(upEntry());
        QTest::keyClick(dirs, Qt::Key_Return);
        QVERIFY(d.isVisible());
        const QString parent = QFileInfo(folder).absolutePath();
        QCOMPARE(model->filePath(dirs->rootIndex()), parent);
        QCOMPARE(dirs->accessibleName(), QDir::toNativeSeparators(parent));
        QTRY_VERIFY(dirs->visualRect(model->index(folder)).isValid());
        QTest::keyClicks(dirs, QStringLiteral("film"));
        QCOMPARE(dirs->currentIndex(), model->index(folder));
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("btnOK")), Qt::LeftButton);
    });
    click(stage, QStringLiteral("folder"));
    QCOMPARE(app::imageSaveDirectory(), QDir::toNativeSeparators(folder));

    // A folder clicked in the picker and confirmed with OK becomes the image folder by its
    // whole path, stored setting included.
    const QString picked = folder + QStringLiteral("/picked");
    QVERIFY(QDir().mkpath(picked));
    stage.dialogs().expect(QStringLiteral("dlgSelectFolder"), [picked](QDialog& d) {
        auto* dirs = d.findChild<QListView*>(QStringLiteral("dirs"));
        const QModelIndex index = qobject_cast<QFileSystemModel*>(dirs->model())->index(picked);
        QTRY_VERIFY(dirs->visualRect(index).isValid());
        QTest::mouseClick(dirs->viewport(), Qt::LeftButton, {}, dirs->visualRect(index).center());
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("btnOK")), Qt::LeftButton);
    });
    click(stage, QStringLiteral("folder"));
    QCOMPARE(app::imageSaveDirectory(), QDir::toNativeSeparators(picked));
    QCOMPARE(app::settings().text(app::keys::ImageSaveDirectory), QDir::toNativeSeparators(picked));

    // The image folder removed since: the picker opens on the current directory instead.
    QVERIFY(QDir(picked).removeRecursively());
    stage.dialogs().expect(QStringLiteral("dlgSelectFolder"), [](QDialog& d) {
        auto* dirs = d.findChild<QListView*>(QStringLiteral("dirs"));
        const QString shown = qobject_cast<QFileSystemModel*>(dirs->model())->filePath(dirs->rootIndex());
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("btnCancel")), Qt::LeftButton);
        QCOMPARE(shown, QDir::currentPath());
    });
    click(stage, QStringLiteral("folder"));
    stage.close();
}

// Makes the reader's next record carry a grade code: 3 good (an A), 2 fair and 1 poor (a
// faint print graded C or D, with the worst fair grade at D or at A), 0 failed (nothing read).
link::Record gradedCycle(Stage& stage, Records& records, int code) {
    QString error;
    stage.send(code == 2   ? QStringLiteral("VERSTATUS A D")
               : code == 1 ? QStringLiteral("VERSTATUS A A")
                           : QStringLiteral("VERSTATUS B C"));
    const QString contrast = code == 3   ? QStringLiteral("90")
                             : code == 0 ? QStringLiteral("0")
                                         : QStringLiteral("60");
    if (!stage.reader().setScene(QStringLiteral("contrast"), contrast, &error))
        qWarning("%s", qPrintable(error));
    link::Record r;
    if (!records.cycle(stage, &r))
        qWarning("no record came");
    return r;
}

void gradeFilters(Stage& stage) {
    monitoring::startQuietReader(stage, QStringLiteral("GRADE"));
    stage.send(QStringLiteral("VERIFY ISO"));
    Records records;
    QVERIFY(stage.open(kFilmstrip));
    QCOMPARE(testing::entries(filter(stage)), kPassFail);
    // The main window announces that the reader grades: the list offers the grades.
    app::setVerificationEnabled(true);
    stage.station().BroadcastMessage(QStringLiteral("frmSymbology"), QStringLiteral("VERIFICATION_ON"),
                                     QString());
    QTRY_COMPARE(testing::entries(filter(stage)), kVerify);
    QCOMPARE(filter(stage)->currentText(), kVerify[0]);

    // Which grades each item keeps: good, fair, poor, failed.
    const QList<QList<bool>> keeps = {
        {true, true, true, true},    {true, true, true, false},   {true, true, false, false},
        {true, false, false, false}, {false, true, false, false}, {false, false, true, false},
        {false, false, false, true}, {false, false, true, true},  {false, true, true, true},
    };
    for (int item = 0; item < kVerify.size(); ++item) {
        testing::choose(filter(stage), kVerify[item]);
        for (int code = 3; code >= 0; --code) {
            const qint64 before = shownNumber(stage);
            const link::Record r = gradedCycle(stage, records, code);
            QVERIFY(r.HasVerification());
            QCOMPARE(r.Verification()->gradeCode, code);
            const bool kept = keeps[item][3 - code];
            QVERIFY2(shownNumber(stage) == (kept ? r.Number() : before),
                     qPrintable(kVerify[item] + QStringLiteral(" with grade code ") + QString::number(code)));
        }
    }

    // Another announcement that changes nothing keeps the operator's choice.
    {
        QSignalSpy heard(&stage.station(), &link::Connection::OnBroadcastMessage);
        stage.station().BroadcastMessage(QStringLiteral("frmSymbology"), QStringLiteral("VERIFICATION_ON"),
                                         QString());
        QTRY_VERIFY(!heard.isEmpty());
        QCoreApplication::processEvents();
        QCOMPARE(filter(stage)->currentText(), kVerify.last());
    }
    // A read the reader did not grade counts as failed grading.
    stage.send(QStringLiteral("VERIFY NONE"));
    for (const int item : {6, 3}) {
        testing::choose(filter(stage), kVerify[item]);
        const qint64 before = shownNumber(stage);
        link::Record r;
        QVERIFY(records.cycle(stage, &r));
        QVERIFY(!r.HasVerification());
        QVERIFY2(shownNumber(stage) == (item == 6 ? r.Number() : before), qPrintable(kVerify[item]));
    }
    stage.send(QStringLiteral("VERIFY ISO"));

    // The window's own announcement does not count; another window's does.
    app::setVerificationEnabled(false);
    QSignalSpy heard(&stage.station(), &link::Connection::OnBroadcastMessage);
    stage.station().BroadcastMessage(kFilmstrip, QStringLiteral("VERIFICATION_OFF"), QString());
    QTRY_VERIFY(!heard.isEmpty());
    QCOMPARE(testing::entries(filter(stage)), kVerify);
    stage.station().BroadcastMessage(QStringLiteral("frmSymbology"), QStringLiteral("VERIFICATION_OFF"),
                                     QString());
    QTRY_COMPARE(testing::entries(filter(stage)), kPassFail);
    QCOMPARE(filter(stage)->currentText(), kPassFail[0]);
    stage.close();
}

// The grades are offered from the first firmware level that grades, and not below it.
void gradeFiltersFromTheGradingLevel(Stage& stage) {
    for (const int level : {3, 4}) {
        stage.start(sim::softwareVersionForLevel(level));
        app::setVerificationEnabled(true);
        QVERIFY(stage.open(kFilmstrip));
        QVERIFY2(testing::entries(filter(stage)) == (level >= 4 ? kVerify : kPassFail),
                 qPrintable(QStringLiteral("level %1").arg(level)));
        stage.close();
        stage.end();
        stage.begin();
    }
}

} // namespace

WindowContract filmstripContract() {
    WindowContract w;
    w.window = kFilmstrip;
    w.notFields = {
        // Chooses which images are shown and saved; the reader never hears of it.
        QStringLiteral("Filter"),
    };
    w.checks = {passFailFiltersAndFiles, gradeFilters, gradeFiltersFromTheGradingLevel};
    return w;
}

} // namespace vm::contracts
