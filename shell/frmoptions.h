#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace vm::shell {

// The program's own preferences: transfer rates, image saving and how the result text is
// drawn. The main window keeps one instance for the whole run and reads the current
// preferences through its properties.
class frmOptions : public QDialog {
    Q_OBJECT
public:
    // The common colour and font dialogs; replaceable so that tests can answer them.
    using ColorChooser = std::function<std::optional<QColor>(const QColor& current, QWidget* parent)>;
    using FontChooser = std::function<std::optional<QFont>(const QFont& current, QWidget* parent)>;
    using FolderChooser = std::function<QString(const QString& start, QWidget* parent)>;
    static void setChoosers(ColorChooser color, FontChooser font, FolderChooser folder);

    explicit frmOptions(QWidget* parent = nullptr);

    // Re-reads the stored preferences and fills the controls; Changed becomes false.
    void LoadPreferences();

    bool Changed() const { return m_changed; }
    quint32 PassColor() const { return m_passColor; }
    quint32 FailColor() const { return m_failColor; }
    quint32 FontColor() const { return m_fontColor; }
    QFont ResultFont() const { return m_resultFont; }
    int ImageRate() const;
    int ReportRate() const;
    bool MaxInControl() const { return m_maxInControl; }
    bool TopTextMode() const { return m_topTextMode; }
    bool RecordHistory() const { return m_recordHistory; }
    int KeepDays() const { return m_keepDays; }
    int KeepMegabytes() const { return m_keepMegabytes; }

    int exec() override;
    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    static constexpr int kMinFolderChars = 40;
    static constexpr int kMaxFolderChars = 120;
    void showImageFolder(const QString& folder);
    void buildConnectivityTab(QWidget* page);
    void buildGeneralTab(QWidget* page);
    void buildDisplayTab(QWidget* page);
    void buildHistoryTab(QWidget* page);
    void fillControls();
    void markChanged();
    void choosePassColor();
    void chooseFailColor();
    void chooseFontColor();
    void chooseFont();
    void browse();
    void showColors();
    void nextTab();

    QTabWidget* m_tabs = nullptr;
    QComboBox* m_cmbReportRate = nullptr;
    QComboBox* m_cmbImageRate = nullptr;
    QCheckBox* m_optMaxInControl = nullptr;
    QComboBox* m_cmbImgSave = nullptr;
    QLineEdit* m_txtImgDirectory = nullptr;
    QPushButton* m_btnBrowse = nullptr;
    QLineEdit* m_txtPassColor = nullptr;
    QLineEdit* m_txtFailColor = nullptr;
    QLineEdit* m_txtResultText = nullptr;
    QPushButton* m_btnPassColor = nullptr;
    QPushButton* m_btnFailColor = nullptr;
    QPushButton* m_btnFont = nullptr;
    QPushButton* m_btnFontColor = nullptr;
    QCheckBox* m_topTextCheck = nullptr;
    QCheckBox* m_chkRecordHistory = nullptr;
    QSpinBox* m_spnKeepDays = nullptr;
    QSpinBox* m_spnKeepMegabytes = nullptr;
    QPushButton* m_cmdOK = nullptr;
    QPushButton* m_cmdCancel = nullptr;

    // Values as stored (loaded) and as edited in this showing.
    int m_storedImageRate = 2;
    int m_storedReportRate = 0;
    bool m_maxInControl = false;
    bool m_topTextMode = false;
    bool m_recordHistory = true;
    int m_keepDays = 90;
    int m_keepMegabytes = 2048;
    quint32 m_passColor = 65280;
    quint32 m_failColor = 255;
    quint32 m_fontColor = 1811194;
    QFont m_resultFont;
    QString m_imageSaveFormat;
    quint32 m_editPassColor = 0;
    quint32 m_editFailColor = 0;
    quint32 m_editFontColor = 0;
    QFont m_editFont;
    bool m_changed = false;
    bool m_updating = false;
};

} // namespace vm::shell
