#pragma once

#include "app/windowregistry.h"
#include "link/configdiff.h"

#include <QDialog>
#include <QList>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace vm::link {
class SettingsConnection;
}

namespace vm::shell {

// Sets the focused reader's configuration beside a configuration file or beside its
// factory defaults, or two files side by side, and lists only the fields that differ. The
// operator ticks rows and sends them to the reader; the reader's name and address are
// marked and stay out of a send unless the operator asks for them.
class frmCompare : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "frmCompare";

    enum class Mode { CameraAndFile, CameraAndDefaults, TwoFiles };
    enum Column { ColParameter, ColField, ColLeft, ColRight, ColumnCount };

    explicit frmCompare(QWidget* parent = nullptr);
    ~frmCompare() override;
    static vm::app::WindowEntry windowEntry();

    void setMode(Mode mode);
    Mode mode() const;
    void setLeftFile(const QString& path);
    void setRightFile(const QString& path);
    // Reads both sides and fills the table; false (with the reason shown) when a side
    // cannot be read.
    bool Compare();
    // Sends the ticked rows to the reader through the apply routine, then compares again.
    bool SendChecked();

    const QList<vm::link::ConfigDifference>& differences() const { return m_rows; }
    QTableWidget* table() const { return m_table; }
    QCheckBox* identityBox() const { return m_identity; }
    QPushButton* sendButton() const { return m_send; }
    // Ticks or clears one row (identity rows only while identity is included).
    void setRowChecked(int row, bool checked);

    void done(int result) override;

private:
    bool readSide(bool left, QStringList* lines, QString* label);
    void fillTable();
    void updateControls();
    void browse(QLineEdit* target);

    vm::link::SettingsConnection* m_conn = nullptr;
    QComboBox* m_mode = nullptr;
    QLabel* m_leftLabel = nullptr;
    QLineEdit* m_leftFile = nullptr;
    QPushButton* m_leftBrowse = nullptr;
    QLabel* m_rightLabel = nullptr;
    QLineEdit* m_rightFile = nullptr;
    QPushButton* m_rightBrowse = nullptr;
    QPushButton* m_compare = nullptr;
    QCheckBox* m_identity = nullptr;
    QLabel* m_summary = nullptr;
    QTableWidget* m_table = nullptr;
    QPushButton* m_send = nullptr;
    QPushButton* m_close = nullptr;
    QList<vm::link::ConfigDifference> m_rows;
    QString m_leftName;
    QString m_rightName;
    bool m_unloaded = false;
};

} // namespace vm::shell
