#pragma once

#include <QDialog>

class QComboBox;
class QFileSystemModel;
class QListView;
class QPushButton;

namespace vm::tools {

// The small folder picker: a drive list over a directory list. The caller reads the
// chosen folder from Folder(); an empty text means the operator cancelled.
class dlgSelectFolder : public QDialog {
    Q_OBJECT
public:
    explicit dlgSelectFolder(QWidget* parent = nullptr);

    void SetInitialFolder(const QString& path);
    QString Folder() const { return m_folder; }

    void accept() override;
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void moveTo(const QString& path);
    void driveChosen(int index);
    void directoryActivated(const QModelIndex& index);
    void directoryClicked(const QModelIndex& index);

    QComboBox* m_drives = nullptr;
    QListView* m_dirs = nullptr;
    QFileSystemModel* m_model = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QString m_initialFolder;
    QString m_folder;
    bool m_updating = false;
};

} // namespace vm::tools
