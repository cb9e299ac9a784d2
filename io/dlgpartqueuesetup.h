#pragma once

#include "app/windowregistry.h"
#include "settings/settingswindow.h"

#include <QHash>

class QComboBox;
class QLabel;
class QLineEdit;

namespace vm::io {

// The reader's part queue: on or off, which parts qualify, how many it keeps, and whether their
// results and images stay in the reader or go to an FTP server.
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
    // Enable groups: the queue's settings while it is on; the failure kind under "Failed";
    // the FTP settings with the FTP save method.
    static constexpr int kQueueOn = 1;
    static constexpr int kFailureKind = 2;
    static constexpr int kFtpSettings = 3;

    void loadParameters() override;
    void refresh() override;
    void applyControlState(bool control) override;
    bool writeControls() override;
    vm::settings::Validation validate() override;
    // The queue's inputs follow its own settings; only OK needs programming control.
    bool inputsAllowed() const override { return true; }
    // OK stands while the PC holds control, changed or not: unchanged it just closes.
    bool okAllowed() const override { return hasControl(); }

    bool queueOn() const;
    bool imagesYes() const;
    bool ftpChosen() const;
    // The reader's FTP fields, as the window read them.
    QString loadedFtpField(int field) const;
    void showFtpFields();
    void showCapacity();
    void changed();
    void saveMethodChanged();
    void saveImagesChanged();
    // Writes into the set what the controls hold, against what the reader held: a parameter
    // the operator left as it was stays unchanged.
    void compose();
    void setField(const QString& parameter, int field, const QString& value);

    // The FTP parameter of the reader the window was opened for (PARTQFTPEX from level 7).
    QString m_ftp;
    QHash<QString, QStringList> m_loaded;
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
};

} // namespace vm::io
