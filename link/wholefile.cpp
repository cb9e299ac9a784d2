#include "link/wholefile.h"

#include <QSaveFile>
#include <QTemporaryFile>

namespace vm::link {

namespace {

bool writeUnsynced(const QString& path,
                   const std::function<bool(QIODevice& device, QString* errorText)>& writer,
                   QString* errorText) {
    auto fail = [errorText](const QString& text) {
        if (errorText)
            *errorText = text;
        return false;
    };
    // Beside the file, so that the rename stays within one file system; removed on any failure.
    QTemporaryFile file(path + QStringLiteral(".XXXXXX.part"));
    if (!file.open())
        return fail(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    QString why;
    if (!writer(file, &why) || !file.flush())
        return fail(why.isEmpty() ? QStringLiteral("Cannot write %1: %2").arg(path, file.errorString())
                                  : why);
    // A temporary file is private to its owner; the finished one reads like any other.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther);
    const QString written = file.fileName();
    file.close();
    // An older file of the name goes only now that the new one is complete.
    if (!QFile::rename(written, path) && !(QFile::remove(path) && QFile::rename(written, path)))
        return fail(QStringLiteral("Cannot write %1").arg(path)); // the temporary goes with `file`
    file.setAutoRemove(false);                                    // it is the finished file now
    return true;
}

} // namespace

bool writeWholeFile(const QString& path,
                    const std::function<bool(QIODevice& device, QString* errorText)>& writer,
                    QString* errorText, Durability durability) {
    if (durability == Durability::Unsynced)
        return writeUnsynced(path, writer, errorText);
    auto fail = [errorText](const QString& text) {
        if (errorText)
            *errorText = text;
        return false;
    };
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    QString why;
    if (!writer(file, &why)) {
        file.cancelWriting();
        return fail(why.isEmpty() ? QStringLiteral("Cannot write %1: %2").arg(path, file.errorString())
                                  : why);
    }
    // commit() flushes, syncs and renames over the old file in one step.
    if (!file.commit())
        return fail(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    return true;
}

bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* errorText, Durability durability) {
    return writeWholeFile(
        path, [&bytes](QIODevice& device, QString*) { return device.write(bytes) == bytes.size(); },
        errorText, durability);
}

} // namespace vm::link
