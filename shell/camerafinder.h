#pragma once

#include <QFrame>

class QAction;
class QLineEdit;
class QListWidget;
class QListWidgetItem;

namespace vm::display {
class FindBox;
}

namespace vm::shell {

// The saved cameras as a list to search, for a camera bar too long to show every button:
// a find box over the cameras sorted by name, each with its button's state image and
// tooltip. Typing narrows the list to the captions that contain the text; Up and Down
// move through it from the find box, Enter or a double click chooses, Escape closes.
class CameraFinder : public QFrame {
    Q_OBJECT
public:
    explicit CameraFinder(QWidget* parent = nullptr);

    // Lists these camera buttons (in name order) and clears the find box.
    void setCameras(const QList<QAction*>& cameras);
    QLineEdit* findText() const;
    QListWidget* cameraList() const { return m_list; }

signals:
    void cameraChosen(const QString& caption);

private:
    void filterChanged();
    void choose(QListWidgetItem* item);

    vm::display::FindBox* m_find = nullptr;
    QListWidget* m_list = nullptr;
};

} // namespace vm::shell
