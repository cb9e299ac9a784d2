#pragma once

#include <QMap>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QtGlobal>

#include <functional>

namespace vm::shell {
class BasicInterface;
}

namespace vm::bench {

// Runs the event loop until done() holds, checking every 10 ms so that the waiting itself
// costs no measurable CPU; false when timeoutMs passed first.
bool waitFor(const std::function<bool()>& done, int timeoutMs);

// The processor time this process has used, all threads, in seconds.
double cpuSeconds();
// The processor time the calling thread has used, in seconds.
double threadCpuSeconds();
// CPU seconds of this process's threads that go by `name`, or a negative number where the
// system does not say (only Linux does here).
double namedThreadsCpuSeconds(const QString& name);

// Counts the records that reach the program against the reader's own record numbers, so a
// shortfall in the rate shows whether the reader made fewer records or the program lost some.
class RecordTally {
public:
    void add(qint64 number);
    qint64 received() const { return m_received; }
    // Records the reader numbered between the first and the last received that never arrived.
    qint64 missing() const { return m_received ? m_last - m_first + 1 - m_received : 0; }

private:
    qint64 m_first = 0;
    qint64 m_last = 0;
    qint64 m_received = 0;
};

// Counts how often each window of the program repaints (one count per pass that paints its
// changed parts and hands them to the screen), by the window's object name: each pass costs
// more than what it paints, so the count explains a window's share of the CPU.
class RepaintCounter : public QObject {
public:
    RepaintCounter(); // counts from now, for the windows that exist now
    QMap<QString, qint64> counts() const { return m_counts; }
    // "Name 60.1/s, Other 33.0/s" over `seconds`.
    QString rates(double seconds) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QMap<QString, qint64> m_counts;
};

// One simulated reader in a program of its own, so that its cycles do not share this
// process's CPU, found by the program's discovery on a port of the bench's own.
class ReaderProcess {
public:
    struct Options {
        QString program = QStringLiteral(LUMIVEX_SIM_PROGRAM);
        QString name;
        QString address;
        quint16 discoveryPort = 0;
        int rate = 30;
        bool replay = false; // the reader sends its last image again instead of reading
    };
    ~ReaderProcess();
    // Starts it and points the program's discovery at it; false with a message on stderr.
    bool start(const Options& options);

private:
    QProcess m_process;
};

// A settings store in `folder` with images and reports asked for at the reader's full rate,
// the program's windows registered and their painting paced, as the program has them at start.
void installProgramSettings(const QString& folder);

// Shows the main window with a camera button for the reader and waits for discovery to
// find it; false with a message on stderr.
bool showMainWindowFor(shell::BasicInterface& window, const QString& readerName);

} // namespace vm::bench
