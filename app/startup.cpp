#include "app/startup.h"

#include "app/imagefiles.h"
#include "app/logging.h"
#include "app/paintpacer.h"
#include "app/seriallines.h"
#include "app/settingsstore.h"
#include "app/windowroutines.h"
#include "shell/basicinterface.h"

#include "resources/strings.h"

#include <QApplication>
#include <QCommandLineParser>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vm::app {

namespace {

#ifdef Q_OS_UNIX
int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const auto written = ::write(g_signalPipe[0], &byte, 1);
}
#endif

// A session that ends, or a terminal's Ctrl+C, closes the windows the normal way, so
// that the open-window list, window metrics and settings are saved.
void closeWindowsOnTermination(QApplication& application) {
#ifdef Q_OS_UNIX
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) {
        qCWarning(lcApp) << "termination signals will not save the settings: no socket pair";
        return;
    }
    auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [notifier] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(g_signalPipe[1], &byte, 1);
        notifier->setEnabled(false);
        QApplication::closeAllWindows();
        QApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
#else
    Q_UNUSED(application);
#endif
}

// The program's own options, for the parse before the window system opens and for the
// one after.
void describeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral("Set-up and monitoring of Lumivex smart ID readers"));
    parser.addHelpOption();
    parser.addVersionOption();
    // Read by the string table; declared here so that the parser accepts it.
    parser.addOption(QCommandLineOption(QStringLiteral("language"),
                                        QStringLiteral("Language of the user interface: en or test."),
                                        QStringLiteral("language")));
}

// --help and --version print and exit before the window system is opened, so that they
// work where there is no display: a terminal over ssh, a package's checks. --help-all
// also lists the window system's own options and is left to the full parse.
void answerOnTerminal(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    describeOptions(parser);
    // The window system's own options are still in the arguments here: -reverse or
    // -stylesheet read as bundled letters would be -v or -h.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Errors are the full parse's to report; this one only looks for the two options.
    parser.parse(arguments);
    const bool help = parser.isSet(QStringLiteral("help"));
    const bool version = parser.isSet(QStringLiteral("version"));
    if (!help && !version)
        return;
    QCoreApplication terminal(argc, argv);
    if (version)
        parser.showVersion();
    parser.showHelp();
}

} // namespace

QWidget* Start() {
    SettingsStore& store = settings();
    if (!store.isOpen())
        store.Open(QStringLiteral("Velmarrow"));
    readImageSaveDirectory();
    installSerialLineLookup();
    if (auto legacy = openLegacySettingsArea())
        MigrateLegacySettings(store, *legacy);

    // The menus are built from the registry, so it is filled before the main window.
    if (windows().windowEntries().empty())
        registerWindows(windows());

    if (QWidget* old = mainWindow()) {
        old->close();
        old->deleteLater();
        setMainWindow(nullptr);
    }
    auto* window = new shell::BasicInterface();
    window->setAttribute(Qt::WA_DeleteOnClose);
    setMainWindow(window);
    window->Load();
    window->show();
    return window;
}

int Main(int argc, char* argv[]) {
    QCoreApplication::setOrganizationName(QStringLiteral("Velmarrow"));
    QCoreApplication::setApplicationName(QStringLiteral("Velmarrow"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMARROW_VERSION_STRING));
    answerOnTerminal(argc, argv);

    QApplication application(argc, argv);
    QCommandLineParser parser;
    describeOptions(parser);
    parser.process(application);

    vm::res::initLanguage(QCoreApplication::arguments());
    closeWindowsOnTermination(application);
    PaintPacer pacer;

    Start();
    return application.exec();
}

} // namespace vm::app
