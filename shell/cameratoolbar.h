#pragma once

#include <QToolBar>

class QAction;

namespace vm::shell {

// The camera bar: the fixed "addcamera" and "control" buttons, then one check-style
// button per reader the operator works with. A button's caption is a reader name, an
// address or a serial port name ending in ":"; a button added only because its reader
// was focused without being added carries the tag "guest".
class CameraToolbar : public QToolBar {
    Q_OBJECT
public:
    explicit CameraToolbar(QWidget* parent = nullptr);

    QAction* addCameraAction() const { return m_addCamera; }
    QAction* controlAction() const { return m_control; }

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

    QAction* m_addCamera = nullptr;
    QAction* m_control = nullptr;
    QList<QAction*> m_cameras;
};

} // namespace vm::shell
