#include "link/wholefile.h"

#include <QSaveFile>

namespace vm::link {

bool writeWholeFile(const QString& path,
                    const std::function<bool(QIODevice& device, QString* errorText)>& writer,
                    QString* errorText) {
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

bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* errorText) {
    return writeWholeFile(
        path, [&bytes](QIODevice& device, QString*) { return device.write(bytes) == bytes.size(); },
        errorText);
}

} // namespace vm::link
