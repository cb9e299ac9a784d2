#pragma once

#include "display/imageview.h"

#include <QFont>
#include <QObject>
#include <QString>

namespace vm::app {

// The result font as stored: "name,size,bold,italic,strikethrough,underline".
QFont resultFontFromText(const QString& text);
QString resultFontToText(const QFont& font);

// How image views draw results (the Preferences dialog's colours, top-text mode and font), as
// the settings store holds them.
vm::display::DisplaySettings storedDisplaySettings();

// Tells every image view that follows the preferences (the main view and the filmstrip
// recorder's) that they changed; each then applies storedDisplaySettings().
class DisplayPreferences : public QObject {
    Q_OBJECT
public:
    void announceChange() { emit changed(); }

signals:
    void changed();
};

DisplayPreferences& displayPreferences();

} // namespace vm::app
