#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>

class QWidget;

namespace vm::app {

// Lets each top-level window paint at most once per screen refresh.
//
// Qt paints a window once per pass of the event loop in which something in it changed. With
// a reader at its top rate, a window whose labels, grid or chart change with every record
// paints a hundred times a second or more, and every pass costs handing the window to the
// screen besides what it paints, although the screen shows only one picture per refresh.
// A window's update request that comes sooner than a refresh after its last paint is held
// and delivered when that refresh is due; the changes made in between are painted together.
class PaintPacer : public QObject {
    Q_OBJECT
public:
    // Paces every window of the application from now on.
    explicit PaintPacer(QObject* parent = nullptr);
    ~PaintPacer() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Pace {
        QElapsedTimer lastPaint;
        bool held = false;
    };
    void deliver(QWidget* window);

    QHash<QWidget*, Pace> m_windows;
    bool m_delivering = false;
};

} // namespace vm::app
