#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>

namespace vm::link {

enum class Durability {
    // Flushed to the disk before it replaces the old file: it survives a power cut.
    Synced,
    // Whole or nothing for anyone reading the folder, but left to the system's own write-back:
    // for streams of many files, where a disk flush per file would cap the rate.
    Unsynced,
};

// Writes a file whole or not at all: the bytes go to a temporary file beside it,
// which replaces the file only when everything was written and flushed. A crash
// or a failed write leaves the previous file as it was. False with the reason in
// errorText.
bool writeWholeFile(const QString& path, const QByteArray& bytes, QString* errorText = nullptr,
                    Durability durability = Durability::Synced);
// The same with a writer that fills the device (an image writer, a text stream);
// the writer returns false, with errorText set, to leave the file untouched.
bool writeWholeFile(const QString& path,
                    const std::function<bool(QIODevice& device, QString* errorText)>& writer,
                    QString* errorText = nullptr, Durability durability = Durability::Synced);

} // namespace vm::link
