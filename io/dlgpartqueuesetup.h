#pragma once

#include "app/windowregistry.h"
#include "settings/settingswindow.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace vm::io {

// The reader's part queue: on or off, which parts qualify, how many it keeps, and whether
// their results and images stay in the reader or go to an FTP server.
class dlgPartQueueSetup final : public vm::settings::SettingsWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "dlgPartQueueSetup";

    explicit dlgPartQueueSetup(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

    // The qualifier and failure words in list order.
    static QStringList qualifierWords();
    static QStringList failureWords();

private:
    void loadParameters() override;
    void refresh() override;
    void applyControlState(bool control) override;
    bool writeControls() override;

    QString ftpName() const;
    bool imagesYes() const;
    bool ftpChosen() const;
    void updateStates();
    void listChanged();
    void saveMethodChanged();
    void saveImagesChanged();
    void showFtpFields();
    void showCapacity();
    // Sets a field only when it differs, so that only real changes go to the reader.
    void setField(const QString& parameter, int field, const QString& value);
    bool refuse(const QString& text, const QString& title, QWidget* focus);

    QComboBox* m_onOff = nullptr;
    QComboBox* m_qualify = nullptr;
    QComboBox* m_qualFail = nullptr;
    QLineEdit* m_size = nullptr;
    QComboBox* m_saveMethod = nullptr;
    QLineEdit* m_host = nullptr;
    QLineEdit* m_path = nullptr;
    QComboBox* m_saveResults = nullptr;
    QComboBox* m_saveImages = nullptr;
    QLineEdit* m_ftpSize = nullptr;
    QLabel* m_hostLabel = nullptr;
    QLabel* m_pathLabel = nullptr;
    QLabel* m_saveResultsLabel = nullptr;
    QLabel* m_ftpSizeLabel = nullptr;
    QLabel* m_capacity = nullptr;
    bool m_changed = false;
};

} // namespace vm::io
