#pragma once

#include <QObject>

class QSocketNotifier;

namespace vm::cli {

// SIGINT (Ctrl-C) and SIGTERM as a Qt signal. A signal handler may do almost nothing safely:
// it only writes the signal's number into a pipe, and the event loop, which runs while the
// tool waits for readers, reads it and emits stopRequested. The tool then stops between two
// reader lines, gives control back and prints what it did instead of dying with readers
// still under its control. One object per process; the previous handlers come back when it
// is destroyed.
class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

    bool installed() const { return m_notifier != nullptr; }

    // "SIGINT", "SIGTERM" or "signal N", for messages.
    static QString name(int signal);

signals:
    void stopRequested(int signal);

private:
    void readPipe();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace vm::cli
