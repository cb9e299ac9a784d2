#pragma once

#include "app/inifile.h"

#include <QSettings>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace vm::app {

// One stored preference: its section, its key and the text it reads as when absent.
struct SettingKey {
    const char* section;
    const char* key;
    const char* defaultText;
};

namespace keys {
inline constexpr char General[] = "General";
inline constexpr char Connectivity[] = "Connectivity";
inline constexpr char ImageDisplay[] = "Image Display";
inline constexpr char WindowMetrics[] = "Window Metrics";
inline constexpr char LearnOptions[] = "Learn Options";
inline constexpr char Cameras[] = "Cameras";

// "ImageSaveDirectory" defaults to the current directory at start-up, which is only
// known at run time: see readImageSaveDirectory().
inline constexpr SettingKey ImageSaveDirectory{General, "ImageSaveDirectory", ""};
inline constexpr SettingKey ImageSaveFormat{General, "ImageSaveFormat", "TIF"};
inline constexpr SettingKey ImageRate{Connectivity, "ImageRate", "2"};
inline constexpr SettingKey ReportRate{Connectivity, "ReportRate", "0"};
inline constexpr SettingKey UseMaxInControl{Connectivity, "UseMaxInControl", "0"};
inline constexpr SettingKey PassColor{ImageDisplay, "PassColor", "65280"};
inline constexpr SettingKey FailColor{ImageDisplay, "FailColor", "255"};
inline constexpr SettingKey FontColor{ImageDisplay, "FontColor", "1811194"};
inline constexpr SettingKey TopTextMode{ImageDisplay, "TopTextMode", "0"};
inline constexpr SettingKey ResultFont{ImageDisplay, "ResultFont", "Arial,19,0,0,0,0"};
inline constexpr SettingKey UpWindows{WindowMetrics, "UpWindows", ""};
inline constexpr SettingKey LearnSelect{LearnOptions, "LearnSelect", "DECODER"};
inline constexpr SettingKey NumCameras{Cameras, "NumCameras", "0"};

// Section-less options, set by an administrator and never written by the program.
inline constexpr char VmSerialTimerInterval[] = "VmSerialTimerInterval";
inline constexpr char VelmarrowTestMenu[] = "VelmarrowTestMenu";
inline constexpr char VelmarrowPassword[] = "VelmarrowPassword";
inline constexpr char VmSplashEnabled[] = "VmSplashEnabled";
} // namespace keys

// Stored text forms: booleans are "0"/"1" and anything but "0" reads true; numbers are
// decimal text and anything that does not parse reads 0.
bool textToBool(const QString& text);
qint64 textToNumber(const QString& text);
QString boolToText(bool value);

// The program's stored preferences: plain text values addressed by section and key,
// kept in an INI file in the user's configuration folder, plus the section-less options
// an administrator sets (see docs/settings.md).
class SettingsStore {
public:
    // The store the program uses: the per-user file chosen by Open.
    SettingsStore();
    // A store bound to this settings file and options file (tests, tools).
    explicit SettingsStore(const QString& settingsFile, const QString& optionsFile = {});
    ~SettingsStore();

    void Open(const QString& appName);
    QString GetValue(const QString& key, const QString& defaultValue, const QString& section) const;
    void SetValue(const QString& key, const QString& value, const QString& section);
    void Save();
    QString GetOption(const QString& name) const;

    QString text(const SettingKey& key) const;
    bool flag(const SettingKey& key) const;
    qint64 number(const SettingKey& key) const;
    void setText(const SettingKey& key, const QString& value);
    void setFlag(const SettingKey& key, bool value);
    void setNumber(const SettingKey& key, qint64 value);

    bool isOpen() const { return m_settings != nullptr; }
    QString fileName() const;
    QString optionsFileName() const { return m_optionsFile; }
    // Where the settings were written last failed (empty after a good Save).
    QString lastError() const { return m_lastError; }

    // The system-wide options file of this platform.
    static QString defaultOptionsFile();
    // The format under which our plain INI files are read and written through QSettings.
    static QSettings::Format iniFormat();

private:
    QString qualifiedKey(const QString& key, const QString& section) const;

    QString m_settingsFile;
    QString m_optionsFile;
    std::unique_ptr<QSettings> m_settings;
    mutable std::optional<IniDocument> m_options;
    QString m_lastError;
};

// The one store of the program, created on first use (the entry routine uses it first).
SettingsStore& settings();
// Replaces the program's store (tests point it at a temporary file); returns the old one.
std::unique_ptr<SettingsStore> installSettings(std::unique_ptr<SettingsStore> store);

// Camera buttons as stored under "Cameras": "NumCameras" bounds the keys "1".."n";
// empty captions are skipped when reading.
QStringList readCameraList(const SettingsStore& store);
// Writes the count and the captions; entries beyond the count from an earlier, longer
// list are left in place (the count bounds the reading).
void writeCameraList(SettingsStore& store, const QStringList& captions);

// Moves the camera list of a legacy "Velmarrow.INI" in `folder` into the store, saves,
// and deletes the file. Returns true when a file was migrated.
bool MigrateLegacyCameraList(SettingsStore& store, const QString& folder);
// Copies the legacy per-user sections "Window Metrics" and "Learn Options" into the
// store; when either held anything, saves and deletes both from `legacy`.
bool MigrateLegacySettings(SettingsStore& store, QSettings& legacy);
// The per-user area older versions kept their settings in (see docs/settings.md).
std::unique_ptr<QSettings> openLegacySettingsArea();
// Overrides where the legacy area is on platforms without a registry (tests).
void setLegacySettingsFile(const QString& path);

} // namespace vm::app
