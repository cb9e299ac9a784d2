#include "app/displaypreferences.h"
#include "app/imagefiles.h"
#include "app/readhistory.h"
#include "app/settingsstore.h"
#include "common/readers.h"
#include "common/waits.h"
#include "display/cameras.h"
#include "link/coordinator.h"
#include "shell/addcamera.h"
#include "shell/camerafinder.h"
#include "shell/cameratoolbar.h"
#include "shell/fileversion.h"
#include "shell/frmoptions.h"
#include "shell/readerrules.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <csignal>
#include <cstring>
#ifdef Q_OS_UNIX
#include <sys/types.h>
#endif

using namespace vm;
using namespace vm::shell;

namespace {

// A file holding a version block as the build stamps it, surrounded by other bytes.
QByteArray versionBlock(quint16 major, quint16 minor, quint16 build, quint16 revision, quint32 type,
                        quint32 subtype) {
    quint32 words[13] = {0xFEEF04BDu,
                         0x00010000u,
                         (quint32(major) << 16) | minor,
                         (quint32(build) << 16) | revision,
                         0,
                         0,
                         0x3F,
                         0,
                         0x40004,
                         type,
                         subtype,
                         0,
                         0};
    QByteArray bytes(reinterpret_cast<const char*>(words), sizeof words);
    return bytes;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(bytes);
    return path;
}

} // namespace

class TestShell : public QObject {
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression("^(?!This plugin does not support).*")); }

    void firmwareLevels_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("level");
        QTest::newRow("development") << "0.9.0.0" << 99;
        QTest::newRow("1.0.1.x") << "1.0.1.13" << 2;
        QTest::newRow("1.0.2 unknown") << "1.0.2.0" << 0;
        QTest::newRow("1.1") << "1.1.0.32" << 3;
        QTest::newRow("1.3") << "1.3.4.0" << 3;
        QTest::newRow("1.4 unknown") << "1.4.0.0" << 0;
        QTest::newRow("2.0.1") << "2.0.1.5" << 5;
        QTest::newRow("2.0.2") << "2.0.2.0" << 4;
        QTest::newRow("2.1") << "2.1.0.0" << 6;
        QTest::newRow("2.4") << "2.4.9.9" << 9;
        QTest::newRow("2.5") << "2.5.0.0" << 4;
        QTest::newRow("4.x unknown") << "4.0.0.0" << 0;
        QTest::newRow("garbage") << "abc" << 0;
        QTest::newRow("empty") << "" << 0;
    }
    void firmwareLevels() {
        QFETCH(QString, version);
        QFETCH(int, level);
        QCOMPARE(FirmwareLevelOf(version), level);
    }

    void addressesAndCaptions() {
        QVERIFY(IsValidIPAddress("10.0.0.1"));
        QVERIFY(IsValidIPAddress("0.0.0.0"));
        QVERIFY(!IsValidIPAddress("10.0.0"));
        QVERIFY(!IsValidIPAddress("a.b.c.d"));
        QVERIFY(!IsValidIPAddress("1.2.3.4.5"));
        QVERIFY(!IsValidIPAddress("1.2.3.-1"));
        // The dialog and the library agree: what one accepts the other can focus.
        QVERIFY(!IsValidIPAddress("10.0.0. 1"));
        QVERIFY(!IsValidIPAddress(" 10.0.0.1"));
        QVERIFY(!IsValidIPAddress("10..0.1"));
        QVERIFY(IsSerialCaption("COM1:"));
        QVERIFY(IsSerialCaption("SIM1:"));
        QVERIFY(!IsSerialCaption(":abc"));
        QVERIFY(!IsSerialCaption("Line3"));
        QCOMPARE(ControllerDisplayName("COM3"), QStringLiteral("SERIAL"));
        QCOMPARE(ControllerDisplayName("SIM2:"), QStringLiteral("SERIAL"));
        QCOMPARE(ControllerDisplayName("/dev/ttyUSB0"), QStringLiteral("SERIAL"));
        QCOMPARE(ControllerDisplayName("WS-PC7"), QStringLiteral("WS-PC7"));
    }

    void versionCheck_data() {
        QTest::addColumn<QString>("camera");
        QTest::addColumn<QString>("program");
        QTest::addColumn<int>("verdict");
        const int accept = int(VersionVerdict::Accept);
        const int minor = int(VersionVerdict::MinorMismatch);
        const int major = int(VersionVerdict::MajorMismatch);
        QTest::newRow("1.0.1.13 accepted") << "1.0.1.13"
                                           << "2.0.3.1" << accept;
        QTest::newRow("1.1.0.32 accepted") << "1.1.0.32"
                                           << "1.1.0.40" << accept;
        QTest::newRow("program 1.0.0.0") << "0.5.0.0"
                                         << "1.0.0.0" << accept;
        QTest::newRow("program 0.0.0.0") << "1.0.0.5"
                                         << "0.0.0.0" << accept;
        QTest::newRow("equal") << "1.0.0.9"
                               << "1.0.0.9" << accept;
        QTest::newRow("camera 0.0.0.0") << "0.0.0.0"
                                        << "3.0.2.1" << accept;
        QTest::newRow("camera 1.1.0.0") << "1.1.0.0"
                                        << "3.0.2.1" << accept;
        QTest::newRow("1.1.y") << "1.1.2.0"
                               << "3.0.2.1" << accept;
        QTest::newRow("1.2") << "1.2.0.0"
                             << "3.0.2.1" << accept;
        QTest::newRow("major above 1") << "2.3.0.0"
                                       << "3.0.2.1" << accept;
        QTest::newRow("development minor") << "0.9.1.2"
                                           << "0.9.1.3" << minor;
        QTest::newRow("development major") << "0.9.0.0"
                                           << "3.0.2.1" << major;
    }
    void versionCheck() {
        QFETCH(QString, camera);
        QFETCH(QString, program);
        QFETCH(int, verdict);
        QCOMPARE(int(CheckVersionVerdict(camera, program)), verdict);
    }

    void reportRequests() {
        QCOMPARE(BuildReportRequest({0, true, true}), QStringLiteral("REPORTREQ  255 1 NEXTFAIL"));
        QCOMPARE(BuildReportRequest({1, true, false}), QStringLiteral("REPORTREQ  1 1"));
        QCOMPARE(BuildReportRequest({3, false, false}), QStringLiteral("REPORTREQ  26 0"));
        QCOMPARE(BuildReportRequest({4, false, false}), QStringLiteral("REPORTREQ  27 0"));
        QCOMPARE(BuildReportRequest({9, false, false}), QStringLiteral("REPORTREQ  255 0"));
    }

    void fileVersionOfStampedAndPlainFiles() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray noise(4096, 'x');
        // A stray signature without the structure version is not taken for the block.
        QByteArray decoy("\xBD\x04\xEF\xFE\x00\x00\x00\x00", 8);
        const QString stamped =
            writeFile(dir, "app.bin", noise + decoy + versionBlock(2, 4, 17, 301, 1, 0) + noise);
        FileVersion v = ReadFileVersion(stamped);
        QCOMPARE(v.version, QStringLiteral("2.4.17.301"));
        QCOMPARE(v.versionBuild, QStringLiteral("2.4.17 Build 301"));
        QCOMPARE(v.fileType, QStringLiteral("APP"));

        const QString driver = writeFile(dir, "drv.bin", versionBlock(1, 0, 0, 0, 3, 6));
        v = ReadFileVersion(driver);
        QCOMPARE(v.fileType, QStringLiteral("Driver"));
        QCOMPARE(v.fileSubtype, QStringLiteral("Network Driver"));
        // The last type the version standard knows, a static library.
        v = ReadFileVersion(writeFile(dir, "lib.bin", noise + versionBlock(3, 1, 0, 9, 7, 0)));
        QCOMPARE(v.version, QStringLiteral("3.1.0.9"));
        QCOMPARE(v.fileType, QStringLiteral("LIB"));

        const QString plain = writeFile(dir, "plain.bin", noise);
        v = ReadFileVersion(plain);
        QCOMPARE(v.version, QStringLiteral("0.0.0.0"));
        QCOMPARE(v.versionBuild, QStringLiteral("0.0.0 Build 0"));
        QVERIFY(v.fileType.isEmpty());
        QCOMPARE(ReadFileVersion(dir.filePath("missing.bin")).version, QStringLiteral("0.0.0.0"));

        QCOMPARE(FileTypeName(5), QStringLiteral("VxD"));
        QCOMPARE(FileTypeName(6), QStringLiteral("Unknown"));
        QCOMPARE(FileSubtypeName(3, 10), QStringLiteral("Comm Driver"));
        QCOMPARE(FileSubtypeName(3, 11), QStringLiteral("Unknown"));
    }

    void programFileCarriesTheBuildVersion() {
        const FileVersion v = ReadFileVersion(QStringLiteral(VELMARROW_PROGRAM_FILE));
        QCOMPARE(v.version, QStringLiteral(VELMARROW_VERSION_STRING));
        QCOMPARE(v.fileType, QStringLiteral("APP"));
    }

    // The real program, ended by the session as a desktop would end it (SIGTERM), by Ctrl+C in
    // its terminal (SIGINT) or by the terminal closing (SIGHUP), still saves its open-window
    // list, window metrics and settings.
    void programSavesWhenTerminated_data() {
        QTest::addColumn<int>("signal");
#ifdef Q_OS_UNIX
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
#else
        QTest::newRow("none") << 0;
#endif
    }
    void programSavesWhenTerminated() {
#ifdef Q_OS_UNIX
        QFETCH(int, signal);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString settingsFile = dir.filePath("Velmarrow.ini");
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("VELMARROW_SETTINGS_FILE", settingsFile);
        env.insert("VELMARROW_OPTIONS_FILE", dir.filePath("options.ini"));
        env.insert("VmSplashEnabled", "0");
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::MergedChannels);
        QByteArray output;
        connect(&program, &QProcess::readyRead, this, [&] { output += program.readAll(); });
        program.start(QStringLiteral(VELMARROW_PROGRAM_FILE), QStringList());
        QVERIFY(program.waitForStarted(10000));
        // The main window logs its camera list when it has loaded.
        QTRY_VERIFY_WITH_TIMEOUT(output.contains("camera list"), 20000);
        QCOMPARE(::kill(pid_t(program.processId()), signal), 0);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QFile file(settingsFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray saved = file.readAll();
        QVERIFY2(saved.contains("[Window Metrics]"), saved.constData());
        QVERIFY2(saved.contains("UpWindows=BasicInterface"), saved.constData());
        QVERIFY2(saved.contains("BasicInterface State=0"), saved.constData());
#else
        QSKIP("Termination signals are a POSIX matter");
#endif
    }

    void resultFontText() {
        const QFont font = app::resultFontFromText("Courier New,12,1,0,0,1");
        QCOMPARE(font.family(), QStringLiteral("Courier New"));
        QCOMPARE(font.pointSize(), 12);
        QVERIFY(font.bold());
        QVERIFY(!font.italic());
        QVERIFY(!font.strikeOut());
        QVERIFY(font.underline());
        QCOMPARE(app::resultFontToText(font), QStringLiteral("Courier New,12,1,0,0,1"));
        // Missing or broken parts fall back instead of failing.
        const QFont broken = app::resultFontFromText("Arial,abc");
        QCOMPARE(broken.pointSize(), 19);
        QVERIFY(!broken.bold());
        // A size of nothing or below is no size: the 19 points stand, the rest is read.
        for (const char* text : {"Arial,0,1", "Arial,-4,1"}) {
            const QFont none = app::resultFontFromText(text);
            QCOMPARE(none.pointSize(), 19);
            QVERIFY(none.bold());
        }
    }
};

// The preferences dialog against a settings file of its own.
class TestPreferences : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_file;

    QString storedFile() const {
        QFile f(m_file);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private slots:
    void init() {
        QTest::failOnWarning(QRegularExpression("^(?!This plugin does not support).*"));
        m_file = m_dir.filePath(QStringLiteral("settings-%1.ini").arg(QTest::currentTestFunction()));
        QFile::remove(m_file);
        app::installSettings(std::make_unique<app::SettingsStore>(m_file, m_dir.filePath("options.ini")));
        app::setHistoryFile(
            m_dir.filePath("history.sqlite")); // the main window records here, not in the user's data folder
        app::settings().Open("Velmarrow");
        app::setImageSaveDirectory(m_dir.path());
    }
    void cleanup() {
        frmOptions::setChoosers([](const QColor&, QWidget*) { return std::optional<QColor>(); },
                                [](const QFont&, QWidget*) { return std::optional<QFont>(); },
                                [](const QString&, QWidget*) { return QString(); });
        app::installSettings(nullptr);
    }

    void storedValuesShowAndConvert() {
        auto& store = app::settings();
        store.SetValue("ImageRate", "-1", "Connectivity");
        store.SetValue("ReportRate", "4", "Connectivity");
        store.SetValue("UseMaxInControl", "1", "Connectivity");
        store.SetValue("ImageSaveFormat", "bmp", "General");
        store.SetValue("ResultFont", "Courier New,12,1,0,0,1", "Image Display");
        store.Save();
        frmOptions dialog;
        QCOMPARE(dialog.ImageRate(), -1);
        QCOMPARE(dialog.ReportRate(), 8);
        QVERIFY(dialog.MaxInControl());
        QVERIFY(!dialog.TopTextMode());
        QVERIFY(!dialog.findChild<QCheckBox*>("TopTextCheck")->isChecked());
        QCOMPARE(dialog.PassColor(), 65280u);
        QCOMPARE(dialog.FailColor(), 255u);
        QCOMPARE(dialog.FontColor(), 1811194u);
        QCOMPARE(dialog.findChild<QComboBox*>("cmbImageRate")->currentText(), QStringLiteral("None"));
        QCOMPARE(dialog.findChild<QComboBox*>("cmbReportRate")->currentText(),
                 QStringLiteral("8 per second"));
        QCOMPARE(dialog.findChild<QComboBox*>("cmbImgSave")->currentIndex(), 1);
        QVERIFY(dialog.ResultFont().bold());
        QVERIFY(!dialog.Changed());

        store.SetValue("ImageRate", "2", "Connectivity");
        store.SetValue("ReportRate", "not a number", "Connectivity");
        dialog.LoadPreferences();
        QCOMPARE(dialog.ImageRate(), 2);
        QCOMPARE(dialog.findChild<QComboBox*>("cmbImageRate")->currentText(), QStringLiteral("2 per second"));
        QCOMPARE(dialog.ReportRate(), 0);
        // A stored rate the lists do not have is "Maximum", shown and asked of the reader alike (not
        // "None", which OK would then store, nor a rate the lists do not offer).
        for (const char* rate : {"7", "-3"}) {
            store.SetValue("ImageRate", rate, "Connectivity");
            store.SetValue("ReportRate", rate, "Connectivity");
            dialog.LoadPreferences();
            QCOMPARE(dialog.ImageRate(), 0);
            QCOMPARE(dialog.ReportRate(), 0);
            QCOMPARE(dialog.findChild<QComboBox*>("cmbImageRate")->currentText(), QStringLiteral("Maximum"));
            QCOMPARE(dialog.findChild<QComboBox*>("cmbReportRate")->currentText(), QStringLiteral("Maximum"));
        }
    }

    void okWritesEveryValueInItsTextForm() {
        app::settings().SetValue("ResultFont", "Courier New,12,1,0,0,1", "Image Display");
        // A history kept for two years, in at most 50 MB.
        app::settings().SetValue("KeepDays", "730", "History");
        app::settings().SetValue("KeepMegabytes", "50", "History");
        frmOptions::setChoosers(
            [](const QColor&, QWidget*) { return std::optional<QColor>(QColor(0, 0, 255)); }, nullptr,
            nullptr);
        frmOptions dialog;
        dialog.show();
        auto* imageRate = dialog.findChild<QComboBox*>("cmbImageRate");
        imageRate->setCurrentIndex(3);
        emit imageRate->activated(3);
        QTest::mouseClick(dialog.findChild<QCheckBox*>("TopTextCheck"), Qt::LeftButton);
        QTest::mouseClick(dialog.findChild<QPushButton*>("btnFailColor"), Qt::LeftButton);
        QVERIFY(dialog.Changed());
        QTest::mouseClick(dialog.findChild<QPushButton*>("cmdOK"), Qt::LeftButton);

        auto& store = app::settings();
        QCOMPARE(store.GetValue("ImageRate", "", "Connectivity"), QStringLiteral("-1"));
        QCOMPARE(store.GetValue("ReportRate", "", "Connectivity"), QStringLiteral("0"));
        QCOMPARE(store.GetValue("UseMaxInControl", "", "Connectivity"), QStringLiteral("0"));
        QCOMPARE(store.GetValue("ImageSaveFormat", "", "General"), QStringLiteral("TIF"));
        QCOMPARE(store.GetValue("FailColor", "", "Image Display"), QString::number(0xFF0000));
        QCOMPARE(store.GetValue("PassColor", "", "Image Display"), QStringLiteral("65280"));
        QCOMPARE(store.GetValue("TopTextMode", "", "Image Display"), QStringLiteral("1"));
        // Only a colour changed: the font text is written back exactly as it was.
        QCOMPARE(store.GetValue("ResultFont", "", "Image Display"), QStringLiteral("Courier New,12,1,0,0,1"));
        // Changing a colour changes neither of the history's limits.
        QCOMPARE(store.GetValue("KeepDays", "", "History"), QStringLiteral("730"));
        QCOMPARE(store.GetValue("KeepMegabytes", "", "History"), QStringLiteral("50"));
        QVERIFY(storedFile().contains("[Image Display]"));
        QVERIFY(dialog.Changed());
        QCOMPARE(dialog.ImageRate(), -1);
        QCOMPARE(dialog.FailColor(), 0xFF0000u);
        QVERIFY(dialog.TopTextMode());
    }

    // The result sample shows the font and text colour the operator just chose, before OK.
    void sampleShowsTheChosenFontAndColour() {
        app::settings().SetValue("ResultFont", "Courier New,12,1,0,0,1", "Image Display");
        const QFont chosen(QStringLiteral("DejaVu Serif"), 20, QFont::Normal, false);
        frmOptions::setChoosers(
            [](const QColor&, QWidget*) { return std::optional<QColor>(QColor(0, 0, 255)); },
            [&](const QFont&, QWidget*) { return std::optional<QFont>(chosen); }, nullptr);
        frmOptions dialog;
        dialog.show();
        auto* sample = dialog.findChild<QLineEdit*>("txtResultText");
        QVERIFY(sample);
        QCOMPARE(sample->font().family(), QStringLiteral("Courier New"));
        QTest::mouseClick(dialog.findChild<QPushButton*>("btnFont"), Qt::LeftButton);
        QTest::mouseClick(dialog.findChild<QPushButton*>("btnFontColor"), Qt::LeftButton);
        QCOMPARE(sample->font().family(), chosen.family());
        QCOMPARE(sample->font().pointSize(), 20);
        QVERIFY(!sample->font().bold());
        QCOMPARE(sample->palette().color(QPalette::Text), QColor(0, 0, 255));
    }

    // The operator opens each chooser and cancels it: nothing changed, OK writes nothing.
    void cancelledChoosersChangeNothing() {
        int opened = 0;
        frmOptions::setChoosers(
            [&](const QColor&, QWidget*) {
                ++opened;
                return std::optional<QColor>();
            },
            [&](const QFont&, QWidget*) {
                ++opened;
                return std::optional<QFont>();
            },
            [&](const QString&, QWidget*) {
                ++opened;
                return QString();
            });
        frmOptions dialog;
        dialog.show();
        const quint32 pass = dialog.PassColor();
        const QFont font = dialog.ResultFont();
        const QString folder = dialog.findChild<QLineEdit*>("txtImgDirectory")->text();
        for (const char* button : {"btnPassColor", "btnFailColor", "btnFontColor", "btnFont", "btnBrowse"})
            QTest::mouseClick(dialog.findChild<QPushButton*>(button), Qt::LeftButton);
        QCOMPARE(opened, 5);
        QVERIFY(!dialog.Changed());
        QCOMPARE(dialog.PassColor(), pass);
        QCOMPARE(dialog.ResultFont(), font);
        const QString before = storedFile();
        QTest::mouseClick(dialog.findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
        QCOMPARE(storedFile(), before);
        QCOMPARE(dialog.findChild<QLineEdit*>("txtImgDirectory")->text(), folder);
    }

    // A folder typed into the field is kept on OK, without Enter being pressed.
    void typedFolderIsKept() {
        const QString typed = m_dir.filePath("Typed/");
        frmOptions dialog;
        dialog.show();
        auto* field = dialog.findChild<QLineEdit*>("txtImgDirectory");
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, typed);
        QVERIFY(dialog.Changed());
        QTest::mouseClick(dialog.findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
        QCOMPARE(app::imageSaveDirectory(), typed);
        QCOMPARE(app::settings().text(app::keys::ImageSaveDirectory), typed);
    }

    void browseAddsOneSeparator() {
        const QString picked = m_dir.filePath("Images");
        frmOptions::setChoosers(nullptr, nullptr, [picked](const QString&, QWidget*) { return picked; });
        frmOptions dialog;
        dialog.show();
        QTest::mouseClick(dialog.findChild<QPushButton*>("btnBrowse"), Qt::LeftButton);
        const QString text = dialog.findChild<QLineEdit*>("txtImgDirectory")->text();
        QVERIFY(text == picked + "/" || text == picked + "\\");
        QVERIFY(dialog.Changed());

        frmOptions::setChoosers(nullptr, nullptr,
                                [picked](const QString&, QWidget*) { return picked + "/"; });
        QTest::mouseClick(dialog.findChild<QPushButton*>("btnBrowse"), Qt::LeftButton);
        QCOMPARE(dialog.findChild<QLineEdit*>("txtImgDirectory")->text(), picked + "/");

        QTest::mouseClick(dialog.findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
        QCOMPARE(app::imageSaveDirectory(), picked + "/");
    }

    void ctrlTabCyclesTheTabs() {
        frmOptions dialog;
        dialog.show();
        auto* tabs = dialog.findChild<QTabWidget*>("tbsOptions");
        auto* focus = dialog.findChild<QComboBox*>("cmbReportRate");
        focus->setFocus();
        QCOMPARE(tabs->currentIndex(), 0);
        QTest::keyClick(focus, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(tabs->currentIndex(), 1);
        QTest::keyClick(&dialog, Qt::Key_Tab, Qt::ControlModifier);
        QTest::keyClick(&dialog, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(tabs->currentIndex(), 3); // History, the last
        QTest::keyClick(&dialog, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(tabs->currentIndex(), 0);
        // Ctrl+Shift+Tab is not the rule's key and leaves the tab alone.
        QTest::keyClick(&dialog, Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(tabs->currentIndex(), 0);
    }
};

// A plant's worth of readers where the operator picks one: Add Camera and the camera bar.
class TestFleet : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // The entries of a list that are not hidden, top to bottom.
    static QStringList shownEntries(const QListWidget* list) {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            if (!list->item(i)->isHidden())
                texts << list->item(i)->text();
        return texts;
    }

private slots:
    void init() { QTest::failOnWarning(QRegularExpression("^(?!This plugin does not support).*")); }

    // 120 readers answer discovery: Add Camera lists every one, sorted as people read names
    // (Line2 before Line10, the Line readers before the Packer ones), and typing part of a
    // name in its find box, in any case, leaves the readers that have it; Down moves
    // through them and Enter adds the chosen one.
    void addCameraFindsOneReaderAmongAPlant() {
        // No serial ports but this test's own (none).
        qputenv("VELMARROW_SIM_PORTS_DIR", m_dir.filePath("ports").toLocal8Bit());
        QList<sim::ReaderConfig> configs;
        QStringList expected;
        for (int i = 1; i <= 110; ++i)
            expected << QStringLiteral("Line%1").arg(i);
        for (int i = 1; i <= 10; ++i)
            expected << QStringLiteral("Packer%1").arg(i);
        // Started in another order than they are listed.
        for (qsizetype i = expected.size() - 1; i >= 0; --i) {
            sim::ReaderConfig c = testing::readerConfig(expected.at(i));
            c.idleWithoutClients = true;
            c.publishSerial = false;
            configs << c;
        }
        // One more reader, switched on once the operator has chosen.
        sim::ReaderConfig late = testing::readerConfig(QStringLiteral("Packer11"));
        late.idleWithoutClients = true;
        late.publishSerial = false;
        configs << late;
        const QByteArray targets = qgetenv("VELMARROW_DISCOVERY_TARGETS");
        auto restore = qScopeGuard([&] { qputenv("VELMARROW_DISCOVERY_TARGETS", targets); });
        std::unique_ptr<sim::Simulator> plant = testing::startSimulator(configs);
        QVERIFY(plant);
        sim::Reader* packer11 = plant->reader(int(configs.size()) - 1);
        packer11->setListening(false);

        // Discovery runs as in the program, whose main window starts it.
        link::Coordinator discovery;
        discovery.StartDiscovery();
        AddCamera dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QListWidget* list = dialog.cameraList();
        QLineEdit* find = dialog.findText();
        // The static address entry and the PC's serial ports come first.
        const int ports = discovery.SerialPortCount();
        QTRY_COMPARE_WITH_TIMEOUT(list->count(), 1 + ports + int(expected.size()), testing::kDiscoveryWaitMs);
        for (const QString& port : discovery.SerialPortNames())
            QVERIFY(shownEntries(list).mid(1, ports).contains(port));
        QCOMPARE(shownEntries(list).mid(1 + ports), expected);
        // The find box has its label's name and takes the keys first.
        QCOMPARE(QAccessible::queryAccessibleInterface(find)->text(QAccessible::Name),
                 QStringLiteral("Find a camera"));
        QCOMPARE(dialog.findChild<QLabel*>("lblFind")->buddy(), find);
        QCOMPARE(QApplication::focusWidget(), find);

        QTest::keyClicks(find, "INE11");
        QCOMPARE(shownEntries(list), (QStringList{"<Static IP Address>", "Line11", "Line110"}));
        // The first match is the choice: the static address is no longer typed.
        QCOMPARE(list->currentItem()->text(), QStringLiteral("Line11"));
        QVERIFY(!dialog.ipText()->isEnabled());
        QTest::keyClick(find, Qt::Key_Down);
        QCOMPARE(list->currentItem()->text(), QStringLiteral("Line110"));
        QTest::keyClick(find, Qt::Key_Up);
        QCOMPARE(list->currentItem()->text(), QStringLiteral("Line11"));

        // Nothing matches: only the static address entry is left, and it is the choice.
        QTest::keyClicks(find, "9");
        QCOMPARE(shownEntries(list), QStringList{"<Static IP Address>"});
        QCOMPARE(list->currentRow(), 0);
        QVERIFY(dialog.ipText()->isEnabled());

        // The box's clear button is named for screen readers and empties the box.
        auto* clear = find->findChild<QToolButton*>();
        QVERIFY(clear);
        QCOMPARE(QAccessible::queryAccessibleInterface(clear)->text(QAccessible::Name),
                 QStringLiteral("Clear"));
        QTRY_VERIFY(clear->isVisible());
        clear->click();
        QCOMPARE(find->text(), QString());
        QCOMPARE(shownEntries(list).size(), 1 + ports + expected.size());
        // Blanks around the word, as a pasted name has them, are not part of it.
        QTest::keyClicks(find, " packer1 ");
        QCOMPARE(shownEntries(list), (QStringList{"<Static IP Address>", "Packer1", "Packer10"}));
        QTest::keyClick(find, Qt::Key_Down);
        // A reader found later that matches too is listed, but the operator's choice stays.
        QSignalSpy found(&discovery, &link::Coordinator::OnDeviceDiscovered);
        QSignalSpy vanished(&discovery, &link::Coordinator::OnDeviceVanished);
        packer11->setListening(true);
        const QStringList packers{"<Static IP Address>", "Packer1", "Packer10", "Packer11"};
        QTRY_COMPARE_WITH_TIMEOUT(shownEntries(list), packers, testing::kDiscoveryWaitMs);
        QCOMPARE(list->currentItem()->text(), QStringLiteral("Packer10"));
        // It falls silent and answers again: still one row.
        packer11->setListening(false);
        QTRY_COMPARE_WITH_TIMEOUT(vanished.count(), 1, 2 * testing::kDiscoveryWaitMs);
        packer11->setListening(true);
        QTRY_COMPARE_WITH_TIMEOUT(found.count(), 2, testing::kDiscoveryWaitMs);
        QCOMPARE(shownEntries(list), packers);
        QCOMPARE(list->count(), 2 + ports + int(expected.size()));
        QSignalSpy chosen(&dialog, &AddCamera::AddCameraChosen);
        QTest::keyClick(find, Qt::Key_Return);
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.at(0).at(0).toString(), QStringLiteral("Packer10"));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    // Hundreds of saved cameras: from eight on, the bar shows "Find Camera", which lists
    // them in name order with each button's state and tooltip; typing narrows the list,
    // Enter presses the chosen camera's button, a camera whose button cannot be pressed
    // cannot be chosen, and the button that is down already is left down.
    void cameraBarFindsASavedCamera() {
        CameraToolbar bar;
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        QAction* find = bar.findCameraAction();
        for (int i = 300; i >= 1; --i) {
            bar.appendCamera(QStringLiteral("Line%1").arg(i), false);
            QCOMPARE(find->isVisible(), bar.cameraCount() >= CameraToolbar::kFindThreshold);
        }
        QCOMPARE(bar.indexOf("Line1"), 299);
        QCOMPARE(bar.indexOf("Line300"), 0);
        QCOMPARE(bar.indexOf("Line301"), -1);
        auto* findButton = qobject_cast<QToolButton*>(bar.widgetForAction(find));
        QVERIFY(findButton);
        QCOMPARE(QAccessible::queryAccessibleInterface(findButton)->text(QAccessible::Name),
                 QStringLiteral("Find Camera"));
        bar.camera(bar.indexOf("Line7"))->setEnabled(false);
        bar.camera(bar.indexOf("Line17"))->setToolTip("Camera being programmed by LINE-PC");
        CameraToolbar::setImage(bar.camera(bar.indexOf("Line17")), "netconnected");

        QSignalSpy clicked(&bar, &CameraToolbar::cameraClicked);
        QTest::mouseClick(findButton, Qt::LeftButton);
        CameraFinder* finder = bar.finder();
        QVERIFY(finder);
        QTRY_VERIFY(finder->isVisible());
        QListWidget* list = finder->cameraList();
        QCOMPARE(list->count(), 300);
        QCOMPARE(list->item(0)->text(), QStringLiteral("Line1"));
        QCOMPARE(list->item(1)->text(), QStringLiteral("Line2"));
        QCOMPARE(list->item(299)->text(), QStringLiteral("Line300"));
        QCOMPARE(list->item(16)->toolTip(), QStringLiteral("Camera being programmed by LINE-PC"));
        QCOMPARE(list->item(16)->icon().cacheKey(), bar.camera(bar.indexOf("Line17"))->icon().cacheKey());
        QCOMPARE(QApplication::focusWidget(), finder->findText());

        QTest::keyClicks(finder->findText(), "ne7");
        // Line7 and Line70 to Line79.
        QCOMPARE(shownEntries(list).size(), 11);
        QCOMPARE(shownEntries(list).first(), QStringLiteral("Line7"));
        // Line7 cannot be pressed: the first one that can is the choice.
        QCOMPARE(list->currentItem()->text(), QStringLiteral("Line70"));
        QTest::keyClick(finder->findText(), Qt::Key_Down);
        QCOMPARE(list->currentItem()->text(), QStringLiteral("Line71"));
        QTest::keyClick(finder->findText(), Qt::Key_Return);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).toString(), QStringLiteral("Line71"));
        QCOMPARE(clicked.at(0).at(1).toBool(), true);
        QVERIFY(bar.findCamera("Line71")->isChecked());
        QVERIFY(!finder->isVisible());

        // Opened again: the list starts whole, at the button that is down; choosing it
        // again changes nothing.
        bar.showFinder();
        QCOMPARE(finder->findText()->text(), QString());
        QCOMPARE(shownEntries(list).size(), 300);
        QCOMPARE(list->currentItem()->text(), QStringLiteral("Line71"));
        QVERIFY(list->currentItem()->font().bold());
        QTest::keyClick(finder->findText(), Qt::Key_Return);
        QCOMPARE(clicked.count(), 1);
        QVERIFY(bar.findCamera("Line71")->isChecked());
        // A camera that cannot be pressed is not chosen by name either.
        bar.chooseCamera("Line7");
        QCOMPARE(clicked.count(), 1);

        // Fewer than eight cameras: no "Find Camera".
        while (bar.cameraCount() > CameraToolbar::kFindThreshold)
            bar.removeCamera(0);
        QVERIFY(find->isVisible());
        bar.removeCamera(0);
        QVERIFY(!find->isVisible());
        QCOMPARE(bar.indexOf("Line300"), -1);
        QCOMPARE(bar.indexOf("Line1"), bar.cameraCount() - 1);
    }

    // A long reader name is shortened in the middle on its button, whether the button was
    // made for it or took it when its reader was renamed: the start and the end, which tells
    // a plant's readers apart, stay in view; the tooltip and the name screen readers hear
    // keep it whole.
    void longNamesAreShortenedInTheMiddle() {
        CameraToolbar bar;
        bar.show();
        const QString added = QStringLiteral("Packaging Hall North Conveyor Reader Station 12");
        const QString renamed = QStringLiteral("Packaging Hall North Conveyor Reader Station 13");
        bar.appendCamera(added, false);
        bar.appendCamera(QStringLiteral("Line1"), false);
        bar.renameCamera(bar.indexOf("Line1"), renamed);
        for (const QString& caption : {added, renamed}) {
            QAction* camera = bar.findCamera(caption);
            QVERIFY(camera);
            auto* button = qobject_cast<QToolButton*>(bar.widgetForAction(camera));
            QVERIFY(button);
            const QString shown = button->text();
            QVERIFY2(shown.startsWith(QLatin1String("Packag")) && shown.endsWith(caption.right(10)) &&
                         shown.contains(QChar(0x2026)),
                     qPrintable(shown));
            QVERIFY2(bar.fontMetrics().horizontalAdvance(shown) <= CameraToolbar::kMaxCaptionWidth,
                     qPrintable(shown));
            QCOMPARE(button->toolTip(), caption);
            QCOMPARE(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), caption);
        }
    }
};

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    int status = 0;
    TestShell shell;
    status |= QTest::qExec(&shell, argc, argv);
    TestPreferences preferences;
    status |= QTest::qExec(&preferences, argc, argv);
    TestFleet fleet;
    status |= QTest::qExec(&fleet, argc, argv);
    return status;
}

#include "tst_shell.moc"
