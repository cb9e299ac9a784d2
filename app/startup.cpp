#include "app/startup.h"

#include "app/imagefiles.h"
#include "app/logging.h"
#include "app/settingsstore.h"
#include "app/windowroutines.h"
#include "shell/basicinterface.h"

#include <QApplication>
#include <QCommandLineParser>

#if __has_include("resources/strings.h")
#include "resources/strings.h"
#define VELMARROW_HAVE_STRING_TABLE 1
#endif

namespace vm::app {

QWidget* Start() {
    SettingsStore& store = settings();
    if (!store.isOpen())
        store.Open(QStringLiteral("Velmarrow"));
    readImageSaveDirectory();
    if (auto legacy = openLegacySettingsArea())
        MigrateLegacySettings(store, *legacy);

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
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Velmarrow"));
    QApplication::setApplicationName(QStringLiteral("Velmarrow"));
    QApplication::setApplicationVersion(QStringLiteral(VELMARROW_VERSION_STRING));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Set-up and monitoring of Lumivex smart ID readers"));
    parser.addHelpOption();
    parser.addVersionOption();
    // Read by the string table; declared here so that the parser accepts it.
    parser.addOption(QCommandLineOption(QStringLiteral("language"),
                                        QStringLiteral("Language of the user interface: en or test."),
                                        QStringLiteral("language")));
    parser.process(application);

#ifdef VELMARROW_HAVE_STRING_TABLE
    vm::res::initLanguage(QCoreApplication::arguments());
#endif

    Start();
    return application.exec();
}

} // namespace vm::app
