#pragma once

#include "app/windowregistry.h"
#include "link/record.h"

#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

namespace vm::link {
class ReaderConnection;
}

namespace vm::tools {

// The shape of a monitoring window: a modeless window over the main window whose caption
// the camera name stands in front of, that stores its place when it goes and unloads once.
class MonitorWindow : public QWidget {
    Q_OBJECT
public:
    ~MonitorWindow() override;

protected:
    // `caption` begins with "-" (or " -") so that the camera name can stand before it.
    MonitorWindow(const QString& name, const QString& caption, QWidget* parent);

    // Releases what the window holds; runs once, when the window goes.
    virtual void unload() {}
    // Window state as the window routines store it: neither minimised nor maximised.
    bool isNormalState() const;
    // Sizes the outer window (frame included) to a width and height in twips.
    void resizeFrameTwips(int widthTwips, int heightTwips);
    int frameWidthTwips() const;

    void closeEvent(QCloseEvent* event) override;

private:
    bool m_unloaded = false;
};

// A monitoring window fed by the focused reader's result records through a connection of
// its own. The records are never drawn inside the record event: only the newest waits,
// and a short timer draws it, so a burst collapses to one redraw.
class RecordWindow : public MonitorWindow {
    Q_OBJECT
public:
    ~RecordWindow() override;

    vm::link::ReaderConnection* connection() const { return m_rconn.get(); }
    bool hasPending() const { return m_pending.has_value(); }
    const QTimer& updateTimer() const { return m_updateTimer; }

protected:
    RecordWindow(const QString& name, const QString& caption, QWidget* parent);

    virtual void newRecord(const vm::link::Record& record) = 0;
    virtual void timerTick() = 0;
    virtual void connectionReset() {}
    virtual void controlStatusChanged() {}

    void unload() override;

    std::unique_ptr<vm::link::ReaderConnection> m_rconn;
    std::optional<vm::link::Record> m_pending;
    QTimer m_updateTimer;
};

// The entry of a monitoring window: an item in the Windows menu (position ten times its
// caption's string number) and a button on the view toolbar; it stays open and follows
// whichever reader is focused, and is opened again at start when it was open at exit.
vm::app::WindowEntry monitorWindowEntry(const char* name, vm::app::WindowEntry::Factory factory, int menuText,
                                        const char* menuKey, int buttonPosition, const char* buttonKey,
                                        int buttonText, int buttonTip, const char* image);

} // namespace vm::tools
