#include "bench/common/programbench.h"

#include "app/paintpacer.h"
#include "app/readhistory.h"
#include "app/settingsstore.h"
#include "app/windowregistry.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "shell/basicinterface.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <ctime>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace vm::bench {

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
#ifdef _WIN32
    return double(std::clock()) / CLOCKS_PER_SEC;
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
}

double namedThreadsCpuSeconds(const QString& name) {
#ifdef Q_OS_LINUX
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    double seconds = 0.0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly) || QString::fromUtf8(comm.readAll()).trimmed() != name)
            continue;
        QFile stat(tasks.filePath(task + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // The fields after the parenthesised name: state is the first, utime the 12th, stime the 13th.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            seconds +=
                double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(ticksPerSecond);
    }
    return seconds;
#else
    Q_UNUSED(name);
    return -1.0;
#endif
}

double threadCpuSeconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0.0;
    const auto ticks = [](const FILETIME& t) { return (quint64(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return double(ticks(kernel) + ticks(user)) / 1e7;
#else
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
#endif
}

RepaintCounter::RepaintCounter() {
    // On the windows themselves, so that only the requests the program lets through count.
    for (QWidget* window : QApplication::topLevelWidgets())
        window->installEventFilter(this);
}

bool RepaintCounter::eventFilter(QObject* watched, QEvent* event) {
    // A window's pass of painting and handing to the screen starts with its update request.
    if (event->type() == QEvent::UpdateRequest)
        ++m_counts[watched->objectName().isEmpty() ? QString::fromLatin1(watched->metaObject()->className())
                                                   : watched->objectName()];
    return false;
}

QString RepaintCounter::rates(double seconds) const {
    QStringList parts;
    for (auto it = m_counts.cbegin(); it != m_counts.cend(); ++it)
        parts.append(QStringLiteral("%1 %2/s").arg(it.key()).arg(double(it.value()) / seconds, 0, 'f', 1));
    return parts.join(QStringLiteral(", "));
}

ReaderProcess::~ReaderProcess() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        m_process.waitForFinished(3000);
    }
}

bool ReaderProcess::start(const Options& options) {
    qputenv("VELMARROW_DISCOVERY_TARGETS",
            QStringLiteral("127.255.255.255:%1").arg(options.discoveryPort).toLocal8Bit());
    QStringList arguments{"--readers",        "1",
                          "--name",           options.name,
                          "--address",        options.address,
                          "--rate",           QString::number(options.rate),
                          "--discovery-port", QString::number(options.discoveryPort),
                          "--admin-port",     "0",
                          "--no-stdin",       "--no-flash"};
    if (options.replay)
        arguments << QStringLiteral("--replay");
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(options.program, arguments);
    if (!m_process.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(options.program));
        return false;
    }
    return true;
}

void RecordTally::add(qint64 number) {
    if (m_received == 0)
        m_first = number;
    m_last = std::max(m_last, number);
    ++m_received;
}

void installProgramSettings(const QString& folder) {
    qputenv("VmSplashEnabled", "0");
    qputenv("VELMARROW_STATION", "BENCH-PC");
    app::installSettings(std::make_unique<app::SettingsStore>(folder + QStringLiteral("/settings.ini"),
                                                              folder + QStringLiteral("/options.ini")));
    app::settings().Open(QStringLiteral("Velmarrow"));
    // The program records the focused reader, as it does for an operator: into the bench's folder.
    app::setHistoryFile(folder + QStringLiteral("/history.sqlite"));
    app::settings().SetValue(QStringLiteral("ImageRate"), QStringLiteral("0"),
                             QStringLiteral("Connectivity"));
    app::settings().SetValue(QStringLiteral("ReportRate"), QStringLiteral("0"),
                             QStringLiteral("Connectivity"));
    if (app::windows().windowEntries().empty())
        app::registerWindows(app::windows());
    if (!qApp->findChild<app::PaintPacer*>(QString(), Qt::FindDirectChildrenOnly))
        new app::PaintPacer(qApp);
}

bool showMainWindowFor(shell::BasicInterface& window, const QString& readerName) {
    window.setProgramVersion(QStringLiteral("3.0.2.1"));
    window.Load();
    window.resize(1000, 820);
    window.show();
    window.AddCameraButton(readerName);
    const bool found = waitFor(
        [&] {
            for (const link::Device* d : window.coordinator()->Devices())
                if (d->Name() == readerName)
                    return true;
            return false;
        },
        10000);
    if (!found)
        std::fprintf(stderr, "the simulated reader was not discovered\n");
    return found;
}

} // namespace vm::bench
