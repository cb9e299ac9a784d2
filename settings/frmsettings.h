#pragma once

#include "settings/settingswindow.h"

#include "app/windowregistry.h"

#include <QList>
#include <QString>
#include <QStringList>

class QPlainTextEdit;

namespace vm::settings {

// The reader takes its time gathering the factory blocks: every command and every line
// waits up to this long.
inline constexpr int ManufacturingTimeoutMs = 8000;

// One factory block: where it is shown and how the reader is asked for it.
struct ManufacturingBlock {
    const char* frameName;  // "HardwareFrame"
    const char* caption;    // the frame's caption
    const char* textName;   // "HardwareText"
    const char* command;    // "SETTINGS_HARDWARE"
    const char* endOfBlock; // "!SETTINGS_HARDWARE OK"
};

// Hardware, customer and manufacturing blocks, top to bottom.
const QList<ManufacturingBlock>& manufacturingBlocks();

// The text of one box from the reply lines read in order. The end-of-block line is left
// out, but it still counts: only the first line read starts the text, every later one is
// added after a CR LF.
QString BlockText(const QStringList& lines, const QString& endOfBlock);

// The manufacturing settings viewer: the three blocks of settings installed in the reader
// at the factory, read-only. It fills itself when it loads and again whenever the
// connection is reset (another reader focused, the link lost or re-established).
class frmSettings : public SettingsWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "frmSettings";

    explicit frmSettings(QWidget* parent = nullptr);

    static vm::app::WindowEntry windowEntry();

    // A box's text as filled (lines joined by CR LF); index in manufacturingBlocks() order.
    QString blockText(int index) const;
    QPlainTextEdit* textBox(int index) const;

signals:
    // The boxes were filled again (also when no reader is connected and they stay empty).
    void filled();

private:
    // Empties the three boxes and, with a reader connected, asks it for each block; a
    // block the reader did not answer in full stays empty and is named in the window.
    void loadParameters() override;
    void refresh() override;

    QList<QPlainTextEdit*> m_boxes;
    QStringList m_texts;
};

} // namespace vm::settings
