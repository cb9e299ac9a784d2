#pragma once

#include <QHash>
#include <QToolBar>

class QAction;

namespace vm::shell {

class CameraFinder;

// The camera bar: the fixed "addcamera" and "control" buttons, then one check-style
// button per reader the operator works with. A button's caption is a reader name, an
// address or a serial port name ending in ":"; a button added only because its reader
// was focused without being added carries the tag "guest".
//
// With many cameras (kFindThreshold and more) the bar also shows "Find Camera", which
// opens the saved cameras as a list to search: a plant's worth of buttons does not fit
// the row, and the overflow menu of a few hundred buttons is of no use.
class CameraToolbar : public QToolBar {
    Q_OBJECT
public:
    explicit CameraToolbar(QWidget* parent = nullptr);

    QAction* addCameraAction() const { return m_addCamera; }
    QAction* controlAction() const { return m_control; }
    QAction* findCameraAction() const { return m_findCamera; }
    // The list that "Find Camera" opens (null until it was opened once).
    CameraFinder* finder() const { return m_finder; }
    // The number of cameras from which "Find Camera" is shown.
    static constexpr int kFindThreshold = 8;
    // Opens the saved cameras as a list to search, under the "Find Camera" button.
    void showFinder();
    // As a click on the camera's button that puts it down; nothing when it is down
    // already or cannot be pressed.
    void chooseCamera(const QString& caption);

    // Appends a camera button; returns its action.
    QAction* appendCamera(const QString& caption, bool guest);
    void removeCamera(int index);
    // Gives a camera button the new name of its reader; its state stays as it was.
    void renameCamera(int index, const QString& caption);
    int cameraCount() const { return int(m_cameras.size()); }
    QAction* camera(int index) const { return m_cameras.value(index); }
    QAction* findCamera(const QString& caption) const;
    int indexOf(const QString& caption) const;
    QStringList captions(bool includeGuests) const;
    static bool isGuest(const QAction* action);
    // The reader a camera button stands for; its text may be shortened to fit.
    static QString caption(const QAction* action);
    // The widest a camera button's text may be, in pixels.
    static constexpr int kMaxCaptionWidth = 160;
    // Shows one of the state images ("netconnected", "serialcontrol", ...).
    static void setImage(QAction* action, const QString& imageKey);
    static QString imageKey(const QAction* action);

signals:
    void cameraClicked(const QString& caption, bool down);
    void addCameraClicked();
    void controlClicked();
    void removeRequested(int index);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void actionTriggered(QAction* action);
    // Passes on a toggle of the action's button by an assistive tool as a click.
    void passAssistiveToggles(QAction* action);
    void updateFindVisibility();

    QAction* m_addCamera = nullptr;
    QAction* m_control = nullptr;
    QAction* m_findCamera = nullptr;
    CameraFinder* m_finder = nullptr; // a child of the bar, made when first opened
    QList<QAction*> m_cameras;
    // The camera buttons by caption: the main window looks buttons up by name for every
    // reader that answers discovery, hundreds at a time.
    QHash<QString, QAction*> m_byCaption;
};

} // namespace vm::shell
