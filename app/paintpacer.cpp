#include "app/paintpacer.h"

#include "display/imageview.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cmath>

namespace vm::app {

PaintPacer::PaintPacer(QObject* parent)
    : QObject(parent) {
    qApp->installEventFilter(this);
}

PaintPacer::~PaintPacer() {
    if (qApp)
        qApp->removeEventFilter(this);
}

bool PaintPacer::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::UpdateRequest || m_delivering || !watched->isWidgetType())
        return false;
    auto* window = static_cast<QWidget*>(watched);
    if (!window->isWindow())
        return false;
    auto found = m_windows.find(window);
    if (found == m_windows.end()) {
        found = m_windows.insert(window, Pace{});
        connect(window, &QObject::destroyed, this, [this, window] { m_windows.remove(window); });
    }
    Pace& pace = found.value();
    if (pace.held)
        return true;
    // Up to an eighth of a refresh early goes at once: the timer's millisecond steps and the
    // event loop's latency would otherwise push it into the refresh after.
    const qint64 interval = display::screenRefreshIntervalNs(window) * 7 / 8;
    const qint64 since = pace.lastPaint.isValid() ? pace.lastPaint.nsecsElapsed() : interval;
    if (since >= interval) {
        pace.lastPaint.start();
        return false;
    }
    // Held: Qt asks for no further paint of this window until this request is delivered, so
    // everything that changes meanwhile is painted in that one pass.
    pace.held = true;
    const int waitMs = int(std::ceil(double(interval - since) / 1e6));
    QTimer::singleShot(waitMs, this, [this, guarded = QPointer<QWidget>(window)] {
        if (guarded)
            deliver(guarded);
    });
    return true;
}

void PaintPacer::deliver(QWidget* window) {
    Pace& pace = m_windows[window];
    pace.held = false;
    pace.lastPaint.start();
    QEvent request(QEvent::UpdateRequest);
    m_delivering = true;
    QCoreApplication::sendEvent(window, &request);
    m_delivering = false;
}

} // namespace vm::app
