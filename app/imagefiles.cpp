#include "app/imagefiles.h"

#include "app/settingsstore.h"

#include <QDir>

namespace vm::app {

namespace {
QString& directoryRef() {
    static QString directory;
    return directory;
}
} // namespace

QString imageSaveDirectory() {
    return directoryRef();
}

void setImageSaveDirectory(const QString& directory) {
    directoryRef() = directory;
}

QString readImageSaveDirectory() {
    const QString dir = settings().GetValue(QLatin1String(keys::ImageSaveDirectory.key),
                                            QDir::toNativeSeparators(QDir::currentPath()),
                                            QLatin1String(keys::ImageSaveDirectory.section));
    setImageSaveDirectory(dir);
    return dir;
}

bool ImageSaveFormatIsTif() {
    return settings().text(keys::ImageSaveFormat).toUpper() == u"TIF";
}

bool IsUsableFileNamePart(const QString& name) {
    if (name.isEmpty() || name.endsWith(u'.') || name.endsWith(u' '))
        return false; // also refuses "." and ".."
    static const QString forbidden = QStringLiteral("/\\:*?\"<>|");
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || forbidden.contains(c))
            return false;
    }
    return true;
}

QString MakeImageFileName(const QString& deviceName, qint64 imageNumber) {
    QString name = deviceName;
    if (name.endsWith(u':'))
        name.chop(1);
    if (!IsUsableFileNamePart(name))
        return QString();
    QString path = imageSaveDirectory();
    // Folders typed on Windows end in "\", elsewhere in "/"; either one is a separator.
    if (!path.endsWith(u'\\') && !path.endsWith(u'/'))
        path += QDir::separator();
    return path + name + u'_' + QStringLiteral("%1").arg(imageNumber, 9, 10, QChar(u'0')) +
           (ImageSaveFormatIsTif() ? QStringLiteral(".tif") : QStringLiteral(".bmp"));
}

} // namespace vm::app
