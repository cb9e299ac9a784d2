#include "app/settingsstore.h"

#include "app/logging.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace vm::app {

namespace {

// Camera lists longer than this are not something an operator made; reading stops here
// so that a damaged count cannot make start-up crawl through millions of keys.
constexpr qint64 MaxCameras = 1000;
// Legacy profile values were read into a buffer of this many characters.
constexpr qsizetype LegacyValueLength = 100;

bool readIni(QIODevice& device, QSettings::SettingsMap& map) {
    const IniDocument doc = IniDocument::parse(device.readAll());
    for (const IniDocument::Section& section : doc.sections())
        for (const IniDocument::Entry& e : section.entries)
            map.insert(section.name.isEmpty() ? e.key : section.name + u'/' + e.key, e.value);
    return true;
}

bool writeIni(QIODevice& device, const QSettings::SettingsMap& map) {
    IniDocument doc;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(u'/');
        if (slash < 0)
            doc.setValue(QString(), it.key(), it.value().toString());
        else
            doc.setValue(it.key().left(slash), it.key().mid(slash + 1), it.value().toString());
    }
    return device.write(doc.serialize()) >= 0;
}

std::unique_ptr<SettingsStore>& programStore() {
    static std::unique_ptr<SettingsStore> store;
    return store;
}

QString& legacyFileOverride() {
    static QString path;
    return path;
}

// GetPrivateProfileInt reads the leading decimal digits and ignores the rest.
qint64 leadingInteger(const QString& text) {
    const QString t = text.trimmed();
    qsizetype i = 0;
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+'))
        ++i;
    const qsizetype digitsStart = i;
    while (i < t.size() && t[i].isDigit() && i - digitsStart < 18)
        ++i;
    return i == digitsStart ? 0 : t.left(i).toLongLong();
}

} // namespace

bool textToBool(const QString& text) {
    return text.trimmed() != u"0";
}

qint64 textToNumber(const QString& text) {
    const QString t = text.trimmed();
    bool ok = false;
    const qint64 n = t.toLongLong(&ok);
    if (ok)
        return n;
    const double d = t.toDouble(&ok);
    if (ok && d > -9.2e18 && d < 9.2e18)
        return qRound64(d);
    return 0;
}

QString boolToText(bool value) {
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

QSettings::Format SettingsStore::iniFormat() {
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("ini"), readIni, writeIni, Qt::CaseSensitive);
    return format;
}

QString SettingsStore::defaultOptionsFile() {
#ifdef Q_OS_WIN
    return QDir::fromNativeSeparators(qEnvironmentVariable("ProgramData", QStringLiteral("C:/ProgramData"))) +
           QStringLiteral("/Velmarrow/options.ini");
#else
    // The system configuration folders (XDG_CONFIG_DIRS, /etc/xdg by default); the first
    // entry of the list is the user's own folder, which is not an administrator's place.
    QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    if (!dirs.isEmpty())
        dirs.removeFirst();
    for (const QString& dir : dirs) {
        const QString path = dir + QStringLiteral("/Velmarrow/options.ini");
        if (QFile::exists(path))
            return path;
    }
    return dirs.isEmpty() ? QStringLiteral("/etc/xdg/Velmarrow/options.ini")
                          : dirs.first() + QStringLiteral("/Velmarrow/options.ini");
#endif
}

SettingsStore::SettingsStore() = default;

SettingsStore::SettingsStore(const QString& settingsFile, const QString& optionsFile)
    : m_settingsFile(settingsFile)
    , m_optionsFile(optionsFile) {}

SettingsStore::~SettingsStore() = default;

void SettingsStore::Open(const QString& appName) {
    if (m_settingsFile.isEmpty())
        m_settingsFile = qEnvironmentVariable("VELMARROW_SETTINGS_FILE");
    if (m_settingsFile.isEmpty())
        m_settings = std::make_unique<QSettings>(iniFormat(), QSettings::UserScope, appName, appName);
    else
        m_settings = std::make_unique<QSettings>(m_settingsFile, iniFormat());
    // Only this one file: no organisation-wide or system-wide files read behind it, so
    // that what the program reads is what the file says.
    m_settings->setFallbacksEnabled(false);
    if (m_optionsFile.isEmpty())
        m_optionsFile = qEnvironmentVariable("VELMARROW_OPTIONS_FILE");
    if (m_optionsFile.isEmpty())
        m_optionsFile = defaultOptionsFile();
    m_options.reset();
    qCInfo(lcApp) << "settings:" << m_settings->fileName() << "options:" << m_optionsFile;
}

QString SettingsStore::fileName() const {
    return m_settings ? m_settings->fileName() : m_settingsFile;
}

QString SettingsStore::qualifiedKey(const QString& key, const QString& section) const {
    return section.isEmpty() ? key : section + u'/' + key;
}

QString SettingsStore::GetValue(const QString& key, const QString& defaultValue,
                                const QString& section) const {
    if (!m_settings) {
        qCWarning(lcApp) << "settings read before the store was opened:" << section << key;
        return defaultValue;
    }
    const QVariant v = m_settings->value(qualifiedKey(key, section));
    return v.isValid() ? v.toString() : defaultValue;
}

void SettingsStore::SetValue(const QString& key, const QString& value, const QString& section) {
    if (!m_settings) {
        qCWarning(lcApp) << "settings written before the store was opened:" << section << key;
        return;
    }
    m_settings->setValue(qualifiedKey(key, section), value);
}

void SettingsStore::Save() {
    if (!m_settings)
        return;
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError) {
        m_lastError = QStringLiteral("Could not write the settings file %1").arg(m_settings->fileName());
        qCWarning(lcApp) << m_lastError;
    } else {
        m_lastError.clear();
    }
}

QString SettingsStore::GetOption(const QString& name) const {
    if (qEnvironmentVariableIsSet(name.toLocal8Bit().constData()))
        return qEnvironmentVariable(name.toLocal8Bit().constData());
    if (!m_options) {
        QFile file(m_optionsFile.isEmpty() ? defaultOptionsFile() : m_optionsFile);
        m_options = file.open(QIODevice::ReadOnly) ? IniDocument::parse(file.readAll()) : IniDocument();
    }
    return m_options->value(QString(), name).value_or(QString());
}

QString SettingsStore::text(const SettingKey& key) const {
    return GetValue(QLatin1String(key.key), QLatin1String(key.defaultText), QLatin1String(key.section));
}

bool SettingsStore::flag(const SettingKey& key) const {
    return textToBool(text(key));
}

qint64 SettingsStore::number(const SettingKey& key) const {
    return textToNumber(text(key));
}

void SettingsStore::setText(const SettingKey& key, const QString& value) {
    SetValue(QLatin1String(key.key), value, QLatin1String(key.section));
}

void SettingsStore::setFlag(const SettingKey& key, bool value) {
    setText(key, boolToText(value));
}

void SettingsStore::setNumber(const SettingKey& key, qint64 value) {
    setText(key, QString::number(value));
}

SettingsStore& settings() {
    auto& store = programStore();
    if (!store)
        store = std::make_unique<SettingsStore>();
    return *store;
}

std::unique_ptr<SettingsStore> installSettings(std::unique_ptr<SettingsStore> store) {
    std::swap(programStore(), store);
    return store;
}

QStringList readCameraList(const SettingsStore& store) {
    const qint64 count = std::clamp<qint64>(store.number(keys::NumCameras), 0, MaxCameras);
    QStringList captions;
    for (qint64 i = 1; i <= count; ++i) {
        const QString caption = store.GetValue(QString::number(i), QString(), QLatin1String(keys::Cameras));
        if (!caption.isEmpty())
            captions.append(caption);
    }
    return captions;
}

void writeCameraList(SettingsStore& store, const QStringList& captions) {
    store.setNumber(keys::NumCameras, captions.size());
    for (qsizetype i = 0; i < captions.size(); ++i)
        store.SetValue(QString::number(i + 1), captions[i], QLatin1String(keys::Cameras));
}

bool MigrateLegacyCameraList(SettingsStore& store, const QString& folder) {
    // The file was written on a case-insensitive file system; match its name that way.
    const QStringList found =
        QDir(folder).entryList({QStringLiteral("Velmarrow.INI")}, QDir::Files | QDir::Hidden | QDir::System);
    if (found.isEmpty())
        return false;
    const QString path = QDir(folder).filePath(found.first());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcApp) << "legacy camera list" << path << "cannot be read:" << file.errorString();
        return false;
    }
    const IniDocument legacy = IniDocument::parse(file.readAll());
    file.close();

    const QString section = QLatin1String(keys::Cameras);
    const qint64 count =
        leadingInteger(legacy.value(section, QStringLiteral("NumCameras")).value_or(QString()));
    store.SetValue(QStringLiteral("NumCameras"), QString::number(count), section);
    for (qint64 i = 1; i <= std::min(count, MaxCameras); ++i) {
        const QString key = QString::number(i);
        store.SetValue(key, legacy.value(section, key).value_or(QString()).left(LegacyValueLength), section);
    }
    store.Save();
    if (!store.lastError().isEmpty())
        return false; // keep the legacy file: its cameras are not safe anywhere else yet

    // A read-only file cannot be deleted on Windows; clear that first.
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    if (!QFile::remove(path))
        qCWarning(lcApp) << "legacy camera list" << path << "was copied but cannot be deleted";
    qCInfo(lcApp) << "migrated" << count << "cameras from" << path;
    return true;
}

bool MigrateLegacySettings(SettingsStore& store, QSettings& legacy) {
    const QString sections[] = {QLatin1String(keys::WindowMetrics), QLatin1String(keys::LearnOptions)};
    bool any = false;
    for (const QString& section : sections) {
        legacy.beginGroup(section);
        const QStringList keyNames = legacy.childKeys();
        for (const QString& key : keyNames) {
            store.SetValue(key, legacy.value(key).toString(), section);
            any = true;
        }
        legacy.endGroup();
    }
    if (!any)
        return false;
    store.Save();
    if (!store.lastError().isEmpty())
        return false;
    for (const QString& section : sections)
        legacy.remove(section);
    legacy.sync();
    qCInfo(lcApp) << "migrated legacy settings from" << legacy.fileName();
    return true;
}

void setLegacySettingsFile(const QString& path) {
    legacyFileOverride() = path;
}

std::unique_ptr<QSettings> openLegacySettingsArea() {
#ifdef Q_OS_WIN
    if (legacyFileOverride().isEmpty())
        return std::make_unique<QSettings>(
            QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Velmarrow"),
            QSettings::NativeFormat);
#endif
    QString path = legacyFileOverride();
    if (path.isEmpty())
        path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QStringLiteral("/Velmarrow/legacy-settings.ini");
    return std::make_unique<QSettings>(path, SettingsStore::iniFormat());
}

} // namespace vm::app
