#include "settings/frmsettings.h"

#include "app/logging.h"
#include "app/windowroutines.h"
#include "link/connection.h"
#include "resources/strings.h"

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace vm::settings {

using vm::app::lcApp;

const QList<ManufacturingBlock>& manufacturingBlocks() {
    static const QList<ManufacturingBlock> blocks = {
        {"HardwareFrame", "Hardware Settings Installed in Manufacturing", "HardwareText", "SETTINGS_HARDWARE",
         "!SETTINGS_HARDWARE OK"},
        {"CustomerFrame", "Customer Settings Installed in Manufacturing", "CustomerText", "SETTINGS_CUSTOMER",
         "!SETTINGS_CUSTOMER OK"},
        {"ManufacturingFrame", "Manufacturing Data", "ManufacturingText", "SETTINGS_MANUFACTURING",
         "!SETTINGS_MANUFACTURING OK"},
    };
    return blocks;
}

QString BlockText(const QStringList& lines, const QString& endOfBlock) {
    QString text;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        if (line == endOfBlock)
            continue;
        if (i == 0)
            text = line;
        else
            text += QLatin1String("\r\n") + line;
    }
    return text;
}

frmSettings::frmSettings(QWidget* parent)
    : SettingsWindow(QLatin1String(WindowName), Mode::ReadOnly, parent) {
    setSizeGripEnabled(true);
    setWindowTitle(vm::res::Str(201));

    auto* layout = new QVBoxLayout(this);
    QWidget* previous = nullptr;
    for (const ManufacturingBlock& block : manufacturingBlocks()) {
        auto* frame = new QGroupBox(QString::fromLatin1(block.caption), this);
        frame->setObjectName(QLatin1String(block.frameName));
        auto* box = new QPlainTextEdit(frame);
        box->setObjectName(QLatin1String(block.textName));
        box->setReadOnly(true);
        box->setUndoRedoEnabled(false);
        box->setLineWrapMode(QPlainTextEdit::NoWrap);
        box->setTabChangesFocus(true);
        box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        box->setFocusPolicy(Qt::StrongFocus);
        box->setAccessibleName(frame->title());
        auto* inner = new QVBoxLayout(frame);
        inner->addWidget(box);
        layout->addWidget(frame, 1);
        if (previous)
            setTabOrder(previous, box);
        previous = box;
        m_boxes << box;
        m_texts << QString();
    }
    resize(640, 560);
    connect(this, &SettingsWindow::loaded, this, &frmSettings::filled);
    ensureLoaded();
}

vm::app::WindowEntry frmSettings::windowEntry() {
    vm::app::WindowEntry registered;
    registered.name = QLatin1String(WindowName);
    registered.factory = [](QWidget* parent) -> QWidget* { return new frmSettings(parent); };
    // Opened from the About box; it belongs to no reader in particular.
    registered.followsReader = true;
    return registered;
}

void frmSettings::loadParameters() {
    for (QString& text : m_texts)
        text.clear();
    const QList<ManufacturingBlock>& blocks = manufacturingBlocks();
    for (int i = 0; i < blocks.size() && isConnected(); ++i) {
        const QString command = QLatin1String(blocks[i].command);
        const vm::link::CommandReply reply = connection()->SendCommand(command, ManufacturingTimeoutMs);
        if (!reply.ok) {
            // Part of a block is not shown as if it were the block: the window names it instead.
            qCInfo(lcApp) << objectName() << "could not read" << command << ':' << reply.errorText;
            markNotRead(command);
            continue;
        }
        vm::link::CommandResponse& response = connection()->Response();
        const int n = response.Lines().Count();
        QStringList lines;
        for (int line = 1; line <= n; ++line)
            lines << response.ReadLine(ManufacturingTimeoutMs);
        m_texts[i] = BlockText(lines, QLatin1String(blocks[i].endOfBlock));
    }
}

void frmSettings::refresh() {
    for (int i = 0; i < m_boxes.size(); ++i)
        m_boxes[i]->setPlainText(m_texts[i]);
}

QString frmSettings::blockText(int index) const {
    return m_texts.value(index);
}

QPlainTextEdit* frmSettings::textBox(int index) const {
    return m_boxes.value(index);
}

} // namespace vm::settings
