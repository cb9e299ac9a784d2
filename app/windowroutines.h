#pragma once

#include "app/windowregistry.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

class QToolBar;

class QScreen;

namespace vm::app {

// Window positions and sizes are stored in twips, 1440 to the inch.
inline constexpr int TwipsPerInch = 1440;

// Twips per pixel of a screen in each direction (15 at 96 dots per inch); the primary
// screen when none is given.
double twipsPerPixelX(const QScreen* screen = nullptr);
double twipsPerPixelY(const QScreen* screen = nullptr);

// Moves and shrinks a rectangle (twips) into the desktop work area, the primary screen's
// available area, whose right and bottom edges are `workWidth` and `workHeight`.
// Returns true when nothing had to change.
bool fitToWorkArea(qint64& left, qint64& top, qint64& width, qint64& height, qint64 workWidth,
                   qint64 workHeight);
// The same against the real work area of the primary screen.
bool FitToWorkArea(qint64& left, qint64& top, qint64& width, qint64& height);
// The work area's right and bottom edges in twips.
QSize workAreaTwips();

// Window state as stored: 0 normal, 1 minimised, 2 maximised.
int windowStateCode(const QWidget* window);
// A window the operator can resize (not fixed-size) also gets its stored size back.
bool isResizable(const QWidget* window);

// Every window is stored under its programmatic name (objectName), e.g. "BasicInterface".
void SaveWindowMetrics(QWidget* window);
void RestoreWindowMetrics(QWidget* window);
// With show true: restores the window's metrics and shows it modeless over the main
// window; with show false: saves its metrics and unloads (closes and deletes) it.
void ShowRestoredWindow(QWidget* window, bool show);

// Names a toolbar and its overflow button for screen readers and UI automation: a toolbar
// without a caption, and the button Qt adds when the toolbar is too narrow for its buttons,
// would otherwise have none.
void nameToolbar(QToolBar* toolbar, const QString& name);

void SaveOpenWindowList(const QStringList& names);
QStringList ReadOpenWindowList();

// The program's main window (the one `Main` created), or null.
QWidget* mainWindow();
void setMainWindow(QWidget* window);

} // namespace vm::app
