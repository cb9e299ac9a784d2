#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class QThread;

namespace vm::sim {

// One FTP transfer at a time, run on a thread of its own so that the reader keeps answering
// its ports while a server is slow or gone. A transfer either stores a file or deletes files.
class FtpTransfer : public QObject {
    Q_OBJECT
public:
    // The longest a server may take to accept a connection, and to take one whole transfer.
    static constexpr int kConnectMs = 3000;
    static constexpr int kTransferMs = 20000;

    explicit FtpTransfer(QObject* parent = nullptr);
    ~FtpTransfer() override;

    bool isBusy() const { return m_thread != nullptr; }
    // Stores `bytes` as `name` in `folder` on `host` ("address" or "address:port"); the
    // folders on the way are made when missing. The file travels under temporaryName and is
    // renamed once whole; a failed store deletes what went up. False when a transfer is
    // still running.
    bool store(const QString& host, const QString& folder, const QString& name, const QByteArray& bytes);
    // Deletes these files of `folder`; a file already gone is no failure.
    bool remove(const QString& host, const QString& folder, const QStringList& names);

    // A file is stored under its name and this suffix until it is whole, then renamed.
    static constexpr const char* kTemporarySuffix = ".partial";
    static QString temporaryName(const QString& name);

    // The address a host and folder give, or an empty text with the reason.
    static QString folderUrl(const QString& host, const QString& folder, QString* error);

signals:
    // The transfer ended; `error` says why when it failed.
    void finished(bool ok, const QString& error);

private:
    struct Job;
    bool begin(std::shared_ptr<Job> job);

    QThread* m_thread = nullptr;
    std::shared_ptr<std::atomic_bool> m_abort;
};

} // namespace vm::sim
