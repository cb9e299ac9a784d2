// Start-up and stored settings: the settings store and its file, the one-time
// migrations, window metrics, image file names, the registry routines, the prompt
// service and the main window's load and close.

#include "app/imagefiles.h"
#include "app/inifile.h"
#include "app/paintpacer.h"
#include "app/prompts.h"
#include "app/readhistory.h"
#include "app/registry.h"
#include "app/scriptedprompts.h"
#include "app/settingsstore.h"
#include "app/windowroutines.h"
#include "common/prompts.h"
#include "history/historystore.h"
#include "shell/basicinterface.h"
#include "shell/splash.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#ifndef Q_OS_WIN
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <csignal>
#include <functional>

using namespace vm::app;
using vm::testing::ExpectPrompts;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Every one of the lines stands in the text.
void expectLines(const QString& text, const QStringList& lines) {
    for (const QString& line : lines)
        QVERIFY2(text.contains(line), qPrintable(QStringLiteral("missing %1 in\n%2").arg(line, text)));
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name) const { return m_dir->filePath(name); }
    SettingsStore& freshStore(const QByteArray& options = {}, const QString& file = "Velmarrow.ini") {
        if (!options.isNull())
            writeFile(path("options.ini"), options);
        auto store = std::make_unique<SettingsStore>(path(file), path("options.ini"));
        store->Open("Velmarrow");
        installSettings(std::move(store));
        setHistoryFile(path("history.sqlite")); // the main window records here, not in the user's data folder
        return settings();
    }
    // A second store over a settings file, as the next start of the program reads it.
    static std::unique_ptr<SettingsStore> reopened(const QString& file, const QString& options = {}) {
        auto store = std::make_unique<SettingsStore>(file, options);
        store->Open("Velmarrow");
        return store;
    }
    // The program's folder, where the legacy camera list lies.
    QString programFolder() const {
        QDir().mkpath(path("program"));
        return path("program");
    }

private slots:
    void init() {
        // The offscreen platform says what it cannot do (raise, size hints); that is not ours.
        QTest::failOnWarning(QRegularExpression("^(?!This plugin does not support).*"));
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        for (const char* option :
             {"VmSerialTimerInterval", "VelmarrowTestMenu", "VelmarrowPassword", "VmSplashEnabled"})
            qunsetenv(option);
        setRegistryFolder(path("registry"));
        setLegacySettingsFile(path("legacy-settings.ini"));
        freshStore();
    }
    void cleanup() {
        installSettings(nullptr);
        m_dir.reset();
    }

    // A window whose content changes far faster than the screen refreshes paints at most once
    // per refresh, paints the newest content, and a change at rest shows at once.
    void windowsPaintAtMostOncePerRefresh() {
        struct Counter : QWidget {
            using QWidget::QWidget;
            int value = 0;
            int paintedValue = -1;
            int paints = 0;
            std::function<void()> onPaint;
            void paintEvent(QPaintEvent*) override {
                QPainter(this).fillRect(rect(), QColor(value % 256, 0, 0));
                paintedValue = value;
                ++paints;
                if (onPaint)
                    onPaint();
            }
        };
        PaintPacer pacer;
        QWidget window;
        auto* counter = new Counter(&window);
        counter->resize(40, 40);
        window.resize(60, 60);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const double refreshHz =
            window.screen() && window.screen()->refreshRate() >= 20.0 ? window.screen()->refreshRate() : 60.0;

        // Changes at 1 ms intervals for a while: paints are held to the refresh.
        QTimer change;
        QObject::connect(&change, &QTimer::timeout, counter, [counter] {
            ++counter->value;
            counter->update();
        });
        const int paints0 = counter->paints;
        QElapsedTimer wall;
        wall.start();
        change.start(1);
        QTRY_VERIFY_WITH_TIMEOUT(counter->value >= 200, 20000);
        change.stop();
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        const int paints = counter->paints - paints0;
        // Up to an eighth of a refresh early is let through; two more for the edges.
        QVERIFY2(
            paints <= int(seconds * refreshHz * 8 / 7) + 2,
            qPrintable(
                QString("%1 paints in %2 s for %3 changes").arg(paints).arg(seconds).arg(counter->value)));
        QVERIFY(paints >= 1);
        QTRY_COMPARE(counter->paintedValue, counter->value); // the held changes are painted

        // At rest, a change is painted without waiting for a refresh (a held one would wait
        // seven eighths of it).
        QTest::qWait(int(3000 / refreshHz));
        ++counter->value;
        QEventLoop painted;
        counter->onPaint = [&painted] { painted.quit(); };
        QTimer::singleShot(2000, &painted, &QEventLoop::quit);
        wall.start();
        counter->update();
        painted.exec();
        QCOMPARE(counter->paintedValue, counter->value);
        QVERIFY2(wall.elapsed() < 700.0 / refreshHz, qPrintable(QString("%1 ms").arg(wall.elapsed())));
        counter->onPaint = nullptr;

        // A window closed while its paint is held is simply forgotten.
        auto* second = new QWidget;
        second->resize(30, 30);
        second->show();
        QVERIFY(QTest::qWaitForWindowExposed(second));
        second->update();
        second->update();
        delete second;
        QTest::qWait(int(2000 / refreshHz));
    }

    // Defaults, the "0"/"1" and number rules, and the text forms in the file.
    void storeDefaultsAndTextForms() {
        SettingsStore& store = settings();
        QCOMPARE(store.text(keys::ImageSaveFormat), "TIF");
        QCOMPARE(store.number(keys::ImageRate), 2);
        QCOMPARE(store.text(keys::ResultFont), "Arial,19,0,0,0,0");
        QCOMPARE(store.text(keys::LearnSelect), "DECODER");
        QCOMPARE(store.flag(keys::UseMaxInControl), false);
        QCOMPARE(store.GetValue("Missing", "fallback", "Cameras"), "fallback");

        store.SetValue("TopTextMode", "yes", "Image Display");
        QCOMPARE(store.flag(keys::TopTextMode), true); // anything but "0" is true
        store.SetValue("ImageRate", "fast", "Connectivity");
        QCOMPARE(store.number(keys::ImageRate), 0); // not a number reads 0

        store.setFlag(keys::UseMaxInControl, true);
        store.setNumber(keys::ImageRate, -1);
        store.setText(keys::ImageSaveDirectory, "C:\\Images\\");
        store.setText(keys::UpWindows, "BasicInterface;BasicReport");
        store.SetValue("BasicInterface Left", "1500", "Window Metrics");
        writeCameraList(store, {"COM1:", "Line3"});
        store.Save();
        QVERIFY(store.lastError().isEmpty());

        const QString text = QString::fromUtf8(readAll(store.fileName()));
        expectLines(text, {"[General]\n", "ImageSaveDirectory=C:\\Images\\\n", "[Connectivity]\n",
                           "UseMaxInControl=1\n", "ImageRate=-1\n", "[Window Metrics]\n",
                           "BasicInterface Left=1500\n", "UpWindows=BasicInterface;BasicReport\n",
                           "[Cameras]\n", "NumCameras=2\n", "1=COM1:\n", "2=Line3\n", "[Image Display]\n"});
        // Laid out as a person reads it: the file opens with its first section's header, and one
        // empty line stands before every later header and nowhere else.
        const QStringList lines = text.split(u'\n');
        QVERIFY2(lines.first().startsWith(u'[') && text.endsWith(u'\n') && !text.endsWith(u"\n\n"),
                 qPrintable(text));
        for (qsizetype i = 0; i + 2 < lines.size(); ++i)
            QVERIFY2(lines[i].isEmpty() == lines[i + 1].startsWith(u'['),
                     qPrintable(QStringLiteral("line %1 of\n%2").arg(i + 1).arg(text)));

        // A second store over the same file reads it all back.
        const auto again = reopened(store.fileName(), path("options.ini"));
        QCOMPARE(again->text(keys::ImageSaveDirectory), "C:\\Images\\");
        QCOMPARE(readCameraList(*again), QStringList({"COM1:", "Line3"}));
    }

    // Values a plain line would lose survive a save and a fresh read.
    void storeKeepsAwkwardValues() {
        const QStringList values = {" leading and trailing ",
                                    "trailing only ",
                                    "\"quoted\"",
                                    "two\nlines",
                                    "carriage\rreturn",
                                    "CR LF\r\n",
                                    "back\\slash",
                                    "a;b#c=d",
                                    "",
                                    "Ünïcødé"};
        for (int i = 0; i < values.size(); ++i)
            settings().SetValue(QStringLiteral("Key %1").arg(i), values[i], "Learn Options");
        settings().Save();
        const auto again = reopened(settings().fileName());
        // The file as the next start of the program reads it, not this process's cache.
        const IniDocument file = IniDocument::parse(readAll(settings().fileName()));
        for (int i = 0; i < values.size(); ++i) {
            const QString key = QStringLiteral("Key %1").arg(i);
            QCOMPARE(again->GetValue(key, "absent", "Learn Options"), values[i]);
            QCOMPARE(file.value("Learn Options", key).value_or("absent"), values[i]);
        }
    }

    void optionsComeFromEnvironmentThenFile() {
        SettingsStore& store =
            freshStore("; written by the administrator\nVelmarrowPassword=secret\nvmsplashenabled=0\n");
        QCOMPARE(store.GetOption("VelmarrowPassword"), "secret");
        // An option's name is matched without regard to case, as Windows reads such a file.
        QCOMPARE(store.GetOption("VmSplashEnabled"), "0");
        QCOMPARE(store.GetOption("VmSerialTimerInterval"), QString()); // not set: empty
        QCOMPARE(store.GetOption("VelmarrowTestMenu"), QString());

        qputenv("VmSplashEnabled", "1");
        qputenv("VelmarrowTestMenu", "1");
        QCOMPARE(store.GetOption("VmSplashEnabled"), "1");
        QCOMPARE(store.GetOption("VelmarrowTestMenu"), "1");
        qunsetenv("VmSplashEnabled");
        qunsetenv("VelmarrowTestMenu");
        QCOMPARE(store.GetOption("VmSplashEnabled"), "0");

        // No options file at all: every option is empty.
        QCOMPARE(reopened(path("other.ini"), path("no-such-options.ini"))->GetOption("VelmarrowPassword"),
                 QString());
    }

    void legacyCameraListMigratesOnce() {
        const QString folder = programFolder();
        const QString legacy = folder + "/Velmarrow.INI";
        QVERIFY(writeFile(legacy, "[Cameras]\r\nNumCameras=2\r\n1=COM1:\r\n2=Line3\r\n"));
        QVERIFY(QFile::setPermissions(legacy, QFile::ReadOwner | QFile::ReadUser)); // read-only attribute

        QVERIFY(MigrateLegacyCameraList(settings(), folder));
        QVERIFY(!QFile::exists(legacy));
        QCOMPARE(readCameraList(settings()), QStringList({"COM1:", "Line3"}));
        // Saved, not only pending.
        QCOMPARE(readCameraList(*reopened(settings().fileName())), QStringList({"COM1:", "Line3"}));

        // The operator changes the list; a second start finds nothing to migrate.
        writeCameraList(settings(), {"Line4"});
        QVERIFY(!MigrateLegacyCameraList(settings(), folder));
        QCOMPARE(readCameraList(settings()), QStringList({"Line4"}));
    }

    void legacyCameraListEdges() {
        const QString folder = programFolder();
        // No count: zero cameras. Long captions are cut at 100 characters.
        QVERIFY(writeFile(folder + "/velmarrow.ini", "[cameras]\n1=" + QByteArray(150, 'x') + "\n"));
        QVERIFY(MigrateLegacyCameraList(settings(), folder));
        QCOMPARE(settings().text(keys::NumCameras), "0");
        QVERIFY(readCameraList(settings()).isEmpty());

        QVERIFY(writeFile(folder + "/Velmarrow.INI",
                          "[Cameras]\nNumCameras=3 cameras\n1=" + QByteArray(150, 'x') + "\n3=10.0.0.1\n"));
        QVERIFY(MigrateLegacyCameraList(settings(), folder));
        QCOMPARE(readCameraList(settings()), QStringList({QString(100, 'x'), "10.0.0.1"}));
        QCOMPARE(settings().GetValue("2", "absent", "Cameras"), QString()); // copied as empty
    }

    void legacySettingsMigrateOnce() {
        {
            auto legacy = openLegacySettingsArea();
            legacy->setValue("Window Metrics/BasicReport Left", "150");
            legacy->setValue("Window Metrics/BasicReport Width", "6000");
            legacy->setValue("Learn Options/LearnSelect", "BOTH");
            legacy->setValue("Other/Keep", "yes");
            legacy->sync();
        }
        auto legacy = openLegacySettingsArea();
        QVERIFY(MigrateLegacySettings(settings(), *legacy));
        QCOMPARE(settings().GetValue("BasicReport Left", "0", "Window Metrics"), "150");
        QCOMPARE(settings().GetValue("BasicReport Width", "0", "Window Metrics"), "6000");
        QCOMPARE(settings().text(keys::LearnSelect), "BOTH");
        QVERIFY(QFile::exists(settings().fileName())); // saved

        const QByteArray left = readAll(path("legacy-settings.ini"));
        QVERIFY2(!left.contains("Window Metrics") && !left.contains("Learn Options"), left.constData());
        QVERIFY(left.contains("[Other]"));

        // Second start: nothing to migrate, nothing saved over the operator's changes.
        settings().setText(keys::LearnSelect, "DECODER");
        auto again = openLegacySettingsArea();
        QVERIFY(!MigrateLegacySettings(settings(), *again));
        QCOMPARE(settings().text(keys::LearnSelect), "DECODER");
        QCOMPARE(readAll(path("legacy-settings.ini")), left);
    }

    void legacyIsKeptWhenTheNewSettingsCannotBeSaved() {
        // The new settings file cannot be written (its folder is a file), not even by root.
        QVERIFY(writeFile(path("blocked"), "a file, not a folder"));
        freshStore({}, "blocked/Velmarrow.ini");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Could not write the settings file"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Could not write the settings file"));

        const QString folder = programFolder();
        const QByteArray cameras = "[Cameras]\r\nNumCameras=1\r\n1=Line3\r\n";
        QVERIFY(writeFile(folder + "/Velmarrow.INI", cameras));
        QVERIFY(!MigrateLegacyCameraList(settings(), folder));
        QCOMPARE(readAll(folder + "/Velmarrow.INI"), cameras);

        {
            auto legacy = openLegacySettingsArea();
            legacy->setValue("Window Metrics/BasicReport Left", "150");
            legacy->sync();
        }
        const QByteArray before = readAll(path("legacy-settings.ini"));
        auto legacy = openLegacySettingsArea();
        QVERIFY(!MigrateLegacySettings(settings(), *legacy));
        legacy.reset();
        QCOMPARE(readAll(path("legacy-settings.ini")), before);
        QVERIFY(before.contains("BasicReport"));
    }

    void killedWritersLeaveWholeFiles_data() {
        QTest::addColumn<QString>("mode");
        QTest::newRow("whole file") << "whole";
        QTest::newRow("registry file") << "registry";
    }
    void killedWritersLeaveWholeFiles() {
        // A writer killed at any moment leaves the file before or after one write, never
        // a part of it (a truncated, half-written or empty file).
        QFETCH(QString, mode);
        const QString target = mode == "whole" ? path("image.bin") : path("crashregistry");
        for (int run = 0; run < 8; ++run) {
            QProcess writer;
            writer.start(CRASHWRITER_PATH, {mode, target});
            QVERIFY2(writer.waitForStarted(), qPrintable(writer.errorString()));
            // Killed after a different number of finished writes each time, while the
            // next one is under way.
            int finished = 0;
            while (finished < 1 + run % 4) {
                QVERIFY2(writer.waitForReadyRead(20000), "the writer stopped writing");
                finished += int(writer.readAll().count('\n'));
            }
            writer.kill();
            QVERIFY(writer.waitForFinished());
            if (mode == "whole") {
                const QByteArray bytes = readAll(target);
                QCOMPARE(bytes.size(), 1 << 20);
                QVERIFY2(bytes.count(bytes.front()) == bytes.size(), "a file was left half written");
            } else {
                setRegistryFolder(target);
                for (int i : {0, 39}) {
                    const quint32 round = ReadRegistryDword(
                        RegistryRoot::CurrentUser, QString("Software\\Crash\\Key%1").arg(i), "Round", 0);
                    QVERIFY2(round >= 1, qPrintable(QString("key %1 lost after run %2").arg(i).arg(run)));
                }
            }
        }
    }

    void legacySettingsAbsentTouchesNothing() {
        QVERIFY(writeFile(path("legacy-settings.ini"), "[Other]\nKeep=yes\n"));
        auto legacy = openLegacySettingsArea();
        QVERIFY(!MigrateLegacySettings(settings(), *legacy));
        QVERIFY(!QFile::exists(settings().fileName())); // no Save
        QCOMPARE(readAll(path("legacy-settings.ini")), QByteArray("[Other]\nKeep=yes\n"));
    }

    void fitToWorkAreaRules() {
        qint64 l = -10, t = 200, w = 5000, h = 9000;
        QVERIFY(!fitToWorkArea(l, t, w, h, 8000, 6000));
        QCOMPARE(l, 0);
        QCOMPARE(t, 0); // too tall: shrunk to the height, then moved up
        QCOMPARE(w, 5000);
        QCOMPARE(h, 6000);

        l = 7000, t = -5, w = 2000, h = 1000;
        QVERIFY(!fitToWorkArea(l, t, w, h, 8000, 6000));
        QCOMPARE(l, 6000);
        QCOMPARE(t, 0);

        l = 100, t = 100, w = 2000, h = 1000;
        QVERIFY(fitToWorkArea(l, t, w, h, 8000, 6000));

        // Width is measured against the work area's width, height against its height: a wide
        // window that fits across stays as it is, one wider than the area is cut to it.
        l = 500, t = 0, w = 7000, h = 1000;
        QVERIFY(fitToWorkArea(l, t, w, h, 8000, 6000));
        QCOMPARE(w, 7000);
        l = 0, t = 0, w = 9000, h = 7000;
        QVERIFY(!fitToWorkArea(l, t, w, h, 8000, 6000));
        QCOMPARE(w, 8000);
        QCOMPARE(h, 6000);
    }

    void minimisedWindowStoresOnlyItsState() {
        QWidget window;
        window.setObjectName("BasicReport");
        window.setGeometry(100, 80, 400, 300);
        SaveWindowMetrics(&window);
        const QString section = "Window Metrics";
        const double tx = twipsPerPixelX(window.screen());
        QCOMPARE(settings().GetValue("BasicReport State", "", section), "0");
        QCOMPARE(settings().GetValue("BasicReport Width", "", section), QString::number(qRound64(400 * tx)));
        const QString left = settings().GetValue("BasicReport Left", "", section);

        window.move(300, 300);
        window.setWindowState(Qt::WindowMinimized);
        SaveWindowMetrics(&window);
        QCOMPARE(settings().GetValue("BasicReport State", "", section), "1");
        QCOMPARE(settings().GetValue("BasicReport Left", "", section), left);

        // Maximised, it stores the rectangle it fills on screen.
        window.setWindowState(Qt::WindowMaximized);
        window.show();
        QTRY_VERIFY(window.isMaximized() && window.width() > 400);
        SaveWindowMetrics(&window);
        QCOMPARE(settings().GetValue("BasicReport State", "", section), "2");
        QCOMPARE(settings().GetValue("BasicReport Width", "", section),
                 QString::number(qRound64(window.width() * tx)));
    }

    void windowWiderThanWorkAreaOpensAtLeftZero() {
        const QSize area = workAreaTwips();
        QVERIFY(area.width() > 0);
        const QString section = "Window Metrics";
        settings().SetValue("BasicTune Left", "600", section);
        settings().SetValue("BasicTune Top", "300", section);
        settings().SetValue("BasicTune Width", QString::number(area.width() + 3000), section);
        settings().SetValue("BasicTune Height", "3000", section);
        settings().SetValue("BasicTune State", "2", section);

        QWidget window;
        window.setObjectName("BasicTune");
        RestoreWindowMetrics(&window);
        const QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(window.pos().x(), 0);
        QCOMPARE(window.width(), avail.x() + avail.width());
        QCOMPARE(window.pos().y(), qRound(300 / twipsPerPixelY()));
        QCOMPARE(window.windowState(), Qt::WindowNoState); // the stored state is not applied

        // A fixed-size window is placed but keeps its size.
        QWidget fixed;
        fixed.setObjectName("BasicTune");
        fixed.setFixedSize(200, 100);
        RestoreWindowMetrics(&fixed);
        QCOMPARE(fixed.size(), QSize(200, 100));
        QCOMPARE(fixed.pos().x(), 0);
    }

    void windowWithoutStoredMetricsStaysPut() {
        QWidget window;
        window.setObjectName("NetworkOverview");
        window.setGeometry(40, 50, 300, 200);
        RestoreWindowMetrics(&window);
        QCOMPARE(window.geometry(), QRect(40, 50, 300, 200));
    }

    void imageFileNames_data() {
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("device");
        QTest::addColumn<qint64>("number");
        QTest::addColumn<QString>("expected");
        const QString sep = QDir::separator();
        QTest::newRow("serial bmp") << "/data/images"
                                    << "BMP"
                                    << "COM2:" << qint64(7) << "/data/images" + sep + "COM2_000000007.bmp";
        QTest::newRow("windows folder ends in backslash")
            << "C:\\Images\\"
            << "tif"
            << "COM1:" << qint64(123456789) << "C:\\Images\\COM1_123456789.tif";
        QTest::newRow("other format reads as bmp") << "/x/"
                                                   << "png"
                                                   << "10.0.0.1" << qint64(0) << "/x/10.0.0.1_000000000.bmp";
    }
    void readerNamesCannotChooseTheFolder_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("usable");
        QTest::newRow("plain") << "Line3" << true;
        QTest::newRow("serial port") << "COM1:" << true;
        QTest::newRow("dotted address") << "10.0.0.1" << true;
        QTest::newRow("dash and blank inside") << "Cell-7 east" << true;
        QTest::newRow("other printable marks") << "Cell~7 #2 (east) {a}" << true;
        QTest::newRow("delete character") << QString("ev") + QChar(0x7F) + "il" << false;
        QTest::newRow("parent steps") << "../../evil" << false;
        QTest::newRow("parent") << ".." << false;
        QTest::newRow("current") << "." << false;
        QTest::newRow("windows parent steps") << "..\\..\\evil" << false;
        QTest::newRow("absolute") << "/etc/evil" << false;
        QTest::newRow("drive") << "C:evil" << false;
        QTest::newRow("trailing dot") << "evil." << false;
        QTest::newRow("control character") << QString("ev\nil") << false;
        QTest::newRow("wildcard") << "ev*il" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("only the colon") << ":" << false;
    }
    void readerNamesCannotChooseTheFolder() {
        QFETCH(QString, device);
        QFETCH(bool, usable);
        setImageSaveDirectory("/data/images");
        const QString path = MakeImageFileName(device, 5);
        QCOMPARE(!path.isEmpty(), usable);
        if (usable)
            QCOMPARE(QFileInfo(path).absolutePath(), QStringLiteral("/data/images"));
    }

    void imageFileNames() {
        QFETCH(QString, directory);
        QFETCH(QString, format);
        QFETCH(QString, device);
        QFETCH(qint64, number);
        QFETCH(QString, expected);
        if (!format.isEmpty())
            settings().setText(keys::ImageSaveFormat, format);
        setImageSaveDirectory(directory);
        QCOMPARE(MakeImageFileName(device, number), expected);
    }

    void imageSaveDirectoryDefaultsToCurrentDirectory() {
        QCOMPARE(readImageSaveDirectory(), QDir::toNativeSeparators(QDir::currentPath()));
        settings().setText(keys::ImageSaveDirectory, "/srv/images");
        QCOMPARE(readImageSaveDirectory(), "/srv/images");
        QCOMPARE(imageSaveDirectory(), "/srv/images");
    }

    // Lines starting with ";" or "#" are comments, also where they look like a key.
    void iniCommentsAreNoKeys() {
        const IniDocument doc =
            IniDocument::parse("[Cameras]\n;NumCameras=9\n#1=Old\n  # 2=Gone\nNumCameras=1\n");
        QCOMPARE(doc.entries("Cameras").size(), 1);
        QCOMPARE(doc.value("Cameras", "NumCameras"), std::optional<QString>("1"));
    }

    void iniKeysOutsideSectionsStayOutside() {
        // "[]" names no section: the keys after it belong to no section, also after a write.
        IniDocument doc = IniDocument::parse("[Cameras]\nCount=2\n[]\nloose=3\n[ ]\nspaced=4\n");
        for (int round = 0; round < 2; ++round) {
            QCOMPARE(doc.value("", "loose"), std::optional<QString>("3"));
            QCOMPARE(doc.value("", "spaced"), std::optional<QString>("4"));
            QCOMPARE(doc.value("Cameras", "Count"), std::optional<QString>("2"));
            QVERIFY(!doc.value("Cameras", "loose"));
            QCOMPARE(doc.entries("Cameras").size(), 1);
            doc = IniDocument::parse(doc.serialize());
        }
        doc.setValue("", "late", "5");
        doc = IniDocument::parse(doc.serialize());
        QCOMPARE(doc.value("", "late"), std::optional<QString>("5"));
        QCOMPARE(doc.entries("Cameras").size(), 1);
    }

    void registryDwords() {
        QCOMPARE(RegistryRootName(RegistryRoot::ClassesRoot), "HKCR");
        QCOMPARE(RegistryRootName(RegistryRoot::CurrentUser), "HKCU");
        QCOMPARE(RegistryRootName(RegistryRoot::LocalMachine), "HKLM");
        QCOMPARE(RegistryRootName(RegistryRoot::Users), QString());

        const QString key = "SYSTEM\\CurrentControlSet\\Services\\Serial";
        QCOMPARE(ReadRegistryDword(RegistryRoot::LocalMachine, key, "RxFIFO", 14), 14u); // nothing stored
        QVERIFY(!WriteRegistryDword(RegistryRoot::LocalMachine, key, "RxFIFO", 8));
        QVERIFY(!WriteRegistryDword(RegistryRoot::LocalMachine, key, "TxFIFO", 0xFFFFFFFFu));
        QCOMPARE(ReadRegistryDword(RegistryRoot::LocalMachine, key, "RxFIFO", 14), 8u);
        QCOMPARE(ReadRegistryDword(RegistryRoot::LocalMachine, key, "TxFIFO", 14), 0xFFFFFFFFu);
        QCOMPARE(ReadRegistryDword(RegistryRoot::LocalMachine, key, "Missing", 3), 3u);
        QCOMPARE(ReadRegistryDword(RegistryRoot::LocalMachine, key + "\\Other", "RxFIFO", 3), 3u);
        QCOMPARE(ReadRegistryDword(RegistryRoot::CurrentUser, key, "RxFIFO", 5), 5u); // other root
        QVERIFY(!WriteRegistryDword(RegistryRoot::LocalMachine, key, "RxFIFO", 16));  // replaces
        QCOMPARE(ReadRegistryDword(RegistryRoot::LocalMachine, key, "RxFIFO", 14), 16u);
        QCOMPARE(ReadRegistryDword(RegistryRoot::LocalMachine, key, "TxFIFO", 14), 0xFFFFFFFFu);
    }

#ifndef Q_OS_WIN
    void registryFileIsReplacedWholeNeverRewrittenInPlace() {
        const QString key = "Software\\Velmarrow";
        QVERIFY(!WriteRegistryDword(RegistryRoot::CurrentUser, key, "Baud", 9600));
        const QString file = registryFile(RegistryRoot::CurrentUser);
        QFile before(file);
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray old = before.readAll();
        before.close();
        // A second name for the old file: a writer that truncated and rewrote it in
        // place would change what this name shows; one that replaces it does not.
        const QString witness = file + ".witness";
        QVERIFY(::link(QFile::encodeName(file).constData(), QFile::encodeName(witness).constData()) == 0);
        QVERIFY(!WriteRegistryDword(RegistryRoot::CurrentUser, key, "Baud", 19200));
        QFile kept(witness);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), old);
        QCOMPARE(ReadRegistryDword(RegistryRoot::CurrentUser, key, "Baud", 1), 19200u);
        QCOMPARE(QDir(QFileInfo(file).path()).entryList(QDir::Files | QDir::Hidden).size(),
                 2); // no leftovers
    }

    // A root's file as a person writes it: key paths and value names in any case, as the
    // registry matches them, and a value in hexadecimal as regedit exports it.
    void registryFileWrittenByHand() {
        QVERIFY(QDir().mkpath(registryFolder()));
        QFile file(registryFile(RegistryRoot::LocalMachine));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[software\\terrawick\\device\\ttyS0\\connectionparameters\\serial]\n"
                   "baudrate=0x2580\nPARITY=2\nByteSize=7 \n");
        file.close();
        const QString key = "SOFTWARE\\Terrawick\\Device\\ttyS0\\ConnectionParameters\\Serial";
        QCOMPARE(ReadRegistryDword(RegistryRoot::LocalMachine, key, "BaudRate", 115200), 9600u);
        QCOMPARE(ReadRegistryDword(RegistryRoot::LocalMachine, key, "Parity", 0), 2u);
        QCOMPARE(ReadRegistryDword(RegistryRoot::LocalMachine, key, "ByteSize", 8), 7u);
        // One key however its path is spelt: "/" for "\", a closing separator or two.
        for (const QString& spelling :
             {key + "\\", QString(key).replace(u'\\', u'/'), key.toLower() + "/", key + "\\\\"}) {
            QCOMPARE(ReadRegistryDword(RegistryRoot::LocalMachine, spelling, "Parity", 0), 2u);
            QVERIFY(!WriteRegistryDword(RegistryRoot::LocalMachine, spelling, "StopBits", 2));
            QCOMPARE(ReadRegistryDword(RegistryRoot::LocalMachine, key, "StopBits", 0), 2u);
            QVERIFY(!WriteRegistryDword(RegistryRoot::LocalMachine, key, "StopBits", 0));
        }
        QCOMPARE(readAll(file.fileName()).count('['), 1); // still the one section
    }

    void registryWriteFailure() {
        // A root whose store cannot be opened for writing (here: a folder in its place).
        QVERIFY(QDir().mkpath(registryFile(RegistryRoot::CurrentUser)));
        const auto error = WriteRegistryDword(RegistryRoot::CurrentUser, "Software\\Velmarrow", "Baud", 9600);
        QVERIFY(error);
        QCOMPARE(error->number, qint32(0x80004005u));
        QCOMPARE(error->description,
                 QStringLiteral("Could not open key HKCU\\Software\\Velmarrow for writing (error %1)")
                     .arg(EISDIR));
        QCOMPARE(ReadRegistryDword(RegistryRoot::CurrentUser, "Software\\Velmarrow", "Baud", 1), 1u);
    }
#endif

    void splashTiming_data() {
        QTest::addColumn<qint64>("elapsed");
        QTest::addColumn<int>("remaining"); // -1: closed at once
        QTest::newRow("instant") << qint64(0) << 3000;
        QTest::newRow("quick") << qint64(250) << 2750;
        QTest::newRow("just under") << qint64(2999) << 1;
        QTest::newRow("exactly") << qint64(3000) << 0;
        QTest::newRow("one over") << qint64(3001) << -1;
        QTest::newRow("slow") << qint64(12000) << -1;
    }
    void splashTiming() {
        QFETCH(qint64, elapsed);
        QFETCH(int, remaining);
        const auto r = vm::shell::splashRemainingTime(elapsed);
        QCOMPARE(r.value_or(-1), remaining);
    }

    void splashOption() {
        QVERIFY(vm::shell::splashEnabled(""));
        QVERIFY(vm::shell::splashEnabled("1"));
        QVERIFY(vm::shell::splashEnabled("no"));
        QVERIFY(!vm::shell::splashEnabled("0"));
    }

    void promptsAnsweredInOrder() {
        ExpectPrompts boxes;
        boxes->expectMessage("Major Version Mismatch!", "You cannot connect", PromptIcon::Critical,
                             PromptButtons::Ok, PromptAnswer::Ok);
        boxes->expectMessage("Velmarrow", "Are you sure?", PromptIcon::Question, PromptButtons::YesNo,
                             PromptAnswer::No);
        boxes->expectInput("VelmarrowPassword", "Enter Password", "", true, QString("secret"));
        boxes->expectInput("Name", "Camera name", "Line1", false, std::nullopt);

        QCOMPARE(showMessage(nullptr, "You cannot connect", PromptButtons::Ok, PromptIcon::Critical,
                             "Major Version Mismatch!"),
                 PromptAnswer::Ok);
        QCOMPARE(showMessage(nullptr, "Are you sure?", PromptButtons::YesNo, PromptIcon::Question),
                 PromptAnswer::No);
        QCOMPARE(askInput(nullptr, "Enter Password", "VelmarrowPassword", "", true),
                 std::optional<QString>("secret"));
        QCOMPARE(askInput(nullptr, "Camera name", "Name", "Line1"), std::nullopt);
        QCOMPARE(boxes->shown().size(), 4);
        QCOMPARE(boxes->shown()[2].masked, true);
        QCOMPARE(boxes->pendingCount(), 0);
    }

    // The checks themselves: an unexpected box, a box that differs, a box never shown.
    void promptFailuresAreCaught() {
        ScriptedPrompts scripted;
        QStringList reported;
        scripted.setFailureHandler([&](const QString& f) { reported.append(f); });
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("prompt check failed: unexpected message box"));
        QCOMPARE(
            scripted.message(nullptr, "Velmarrow", "Surprise", PromptIcon::Question, PromptButtons::YesNo),
            PromptAnswer::No); // commits to nothing
        QCOMPARE(reported.size(), 1);
        QVERIFY(reported[0].contains("\"Surprise\""));

        scripted.expectMessage("Warning", "No image to save", PromptIcon::Exclamation, PromptButtons::Ok,
                               PromptAnswer::Ok);
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("prompt check failed: expected .*icon exclamation.*"
                                                "icon information"));
        scripted.message(nullptr, "Warning", "No image to save", PromptIcon::Information, PromptButtons::Ok);
        QCOMPARE(reported.size(), 2);

        scripted.expectInput("VelmarrowPassword", "Enter Password", "", true, QString("x"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("prompt check failed: never shown: input box"));
        QVERIFY(!scripted.verifyAllShown());
        QCOMPARE(scripted.failures(), reported);
        QCOMPARE(reported.size(), 3);

        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("prompt check failed: the answer Yes is not a button"));
        scripted.expectMessage("T", "Only OK", PromptIcon::None, PromptButtons::Ok, PromptAnswer::Yes);
        QCOMPARE(scripted.message(nullptr, "T", "Only OK", PromptIcon::None, PromptButtons::Ok),
                 PromptAnswer::Ok);
    }

    void errorReport() {
        QCOMPARE(errorReportTitle("dlgCalibrate", "CalibrateLight"),
                 "Orvandel Velmarrow: Error in dlgCalibrate CalibrateLight");
        QCOMPARE(
            errorReportText("dlgCalibrate", "CalibrateLight", 440, "Automation error"),
            "dlgCalibrate CalibrateLight: Found Error Number440 Hex(1B8)  described as Automation error");
        QCOMPARE(errorReportText("VerificationReport", "PrintReport", ErrorFail, "Unspecified"),
                 "VerificationReport PrintReport: Found Error Number-2147467259 Hex(80004005)  described as "
                 "Unspecified");

        ExpectPrompts boxes;
        boxes->expectMessage(
            "Orvandel Velmarrow: Error in dlgCommSetup Apply",
            "dlgCommSetup Apply: Found Error Number-2147467259 Hex(80004005)  described as denied",
            PromptIcon::None, PromptButtons::Ok, PromptAnswer::Ok);
        reportError(nullptr, "dlgCommSetup", "Apply", AppError{ErrorFail, "denied"});
    }

    // A whole run of the main window: load (migration, camera list, re-opened windows,
    // restored place, splash) and close (open-window list, metrics, settings saved).
    void mainWindowLoadAndClose() {
        const QString program = programFolder();
        QVERIFY(writeFile(program + "/Velmarrow.INI", "[Cameras]\nNumCameras=2\n1=COM3:\n2=Line3\n"));
        SettingsStore& store = freshStore("VmSplashEnabled=1\n");
        store.setText(keys::UpWindows, "BasicInterface;BasicReport;NoSuchWindow");
        store.SetValue("BasicInterface Left", "1500", "Window Metrics");
        store.SetValue("BasicInterface Top", "750", "Window Metrics");
        store.SetValue("BasicInterface Width", "9000", "Window Metrics");
        store.SetValue("BasicInterface Height", "6000", "Window Metrics");

        WindowEntry report;
        report.name = "BasicReport";
        report.factory = [](QWidget* parent) {
            auto* w = new QWidget(parent, Qt::Window);
            w->setObjectName("BasicReport");
            return w;
        };
        report.reopensAtStart = true;
        windows().add(report);

        auto* window = new vm::shell::BasicInterface;
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setLegacyFolder(program);
        QSignalSpy splashDone(window, &vm::shell::BasicInterface::splashFinished);
        QVERIFY(window->splash());
        window->Load();
        window->show();

        QCOMPARE(window->objectName(), "BasicInterface");
        QCOMPARE(window->windowTitle(), " - Velmarrow");
        QCOMPARE(window->cameraList(), QStringList({"COM3:", "Line3"}));
        QVERIFY(!QFile::exists(program + "/Velmarrow.INI"));
        const double tx = twipsPerPixelX();
        QCOMPARE(window->pos(), QPoint(qRound(1500 / tx), qRound(750 / twipsPerPixelY())));
        QCOMPARE(window->width(), qRound(9000 / tx));

        QVERIFY(window->splash() && window->splash()->isVisible());
        QVERIFY(window->splashTimer().isActive());
        QVERIFY(window->splashTimer().interval() <= 3000);
        QVERIFY(splashDone.wait(5000));
        QVERIFY(!window->splash());

        window->move(qRound(3000 / tx), qRound(1500 / twipsPerPixelY()));
        QVERIFY(window->close());
        QTRY_VERIFY(!windows().find("BasicReport"));

        const QString text = QString::fromUtf8(readAll(store.fileName()));
        expectLines(text,
                    {"[Window Metrics]\n", "UpWindows=BasicInterface;BasicReport\n",
                     "BasicInterface State=0\n", "BasicInterface Left=3000\n", "BasicInterface Top=1500\n",
                     "BasicInterface Width=9000\n", "BasicInterface Height=6000\n", "BasicReport State=0\n",
                     "[Cameras]\n", "NumCameras=2\n", "1=COM3:\n", "2=Line3\n"});
    }

    // Recording pauses when the history file cannot be written: the status bar hears it once per
    // pause, and again when recording resumed and the file fails anew (not only the first time
    // the program ever paused). The reads of both pauses are written once the file takes them.
    void historyPauseIsToldAgainAfterResuming() {
#ifdef Q_OS_WIN
        QSKIP("the file-size limit that makes the disk refuse writes is a POSIX one");
#else
        const QString file = path("paused.sqlite");
        setHistoryFile(file);
        ReadHistory history;
        history.applyPreferences(); // recording is on by default
        QTRY_VERIFY_WITH_TIMEOUT(history.isReady(), 10000);
        vm::history::HistoryStore* store = history.store();
        QSignalSpy said(&history, &ReadHistory::message);
        QSignalSpy resumed(store, &vm::history::HistoryStore::resumed);
        // The process may write no byte into any file: every write of the history fails.
        rlimit unlimited{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &unlimited), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        auto restore = qScopeGuard([&] {
            setrlimit(RLIMIT_FSIZE, &unlimited);
            std::signal(SIGXFSZ, oldHandler);
        });
        auto refuseWrites = [&](bool refuse) {
            rlimit limit = unlimited;
            if (refuse)
                limit.rlim_cur = 1;
            return setrlimit(RLIMIT_FSIZE, &limit) == 0;
        };
        for (int pause = 1; pause <= 2; ++pause) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("recording is paused"));
            QVERIFY(refuseWrites(true));
            vm::history::ReadEntry entry;
            entry.reader = "Line1";
            entry.timeMs = QDateTime::currentMSecsSinceEpoch();
            entry.number = pause;
            store->append(entry);
            QTRY_COMPARE_WITH_TIMEOUT(said.size(), pause, 5000);
            QVERIFY(refuseWrites(false));
            const QString text = said.last().at(0).toString();
            QVERIFY2(text.contains(QDir::toNativeSeparators(file)) && text.contains("recording is paused"),
                     qPrintable(text));
            store->resume(); // the operator freed the disk; the store's own retry comes later
            QTRY_COMPARE_WITH_TIMEOUT(resumed.size(), pause, 5000);
        }
        QVERIFY(store->flush(5000));
        QCOMPARE(store->stats().written, qint64(2));
        QCOMPARE(said.size(), 2);
#endif
    }

    void noSplashWhenDisabled() {
        freshStore("VmSplashEnabled=0\n");
        vm::shell::BasicInterface window;
        window.setLegacyFolder(path("none"));
        window.Load();
        QVERIFY(!window.splash());
        QVERIFY(!window.splashTimer().isActive());
        QVERIFY(window.cameraList().isEmpty()); // first run: no camera buttons
        window.close();
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
