#include "settings/frmsettings.h"

#include "app/logging.h"
#include "app/windowroutines.h"
#include "link/connection.h"

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
    : QDialog(parent) {
    setObjectName(QLatin1String(WindowName));
    setAttribute(Qt::WA_DeleteOnClose);
    setSizeGripEnabled(true);
    setWindowTitle(tr("Settings"));

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
        m_frames << frame;
        m_boxes << box;
        m_texts << QString();
    }
    resize(640, 560);

    m_conn = std::make_unique<vm::link::SettingsConnection>();
    connect(m_conn.get(), &vm::link::Connection::OnConnectionReset, this, &frmSettings::OnConnectionReset);
    Fill();
}

frmSettings::~frmSettings() = default;

void frmSettings::Fill() {
    // A reset that arrives while the reader is being asked fills again afterwards.
    if (m_filling) {
        m_refill = true;
        return;
    }
    m_filling = true;
    do {
        m_refill = false;
        for (int i = 0; i < m_boxes.size(); ++i)
            setBlockText(i, QString());
        if (!m_conn || !m_conn->Connected())
            break;
        const QList<ManufacturingBlock>& blocks = manufacturingBlocks();
        for (int i = 0; i < blocks.size(); ++i) {
            const QString command = QLatin1String(blocks[i].command);
            const vm::link::CommandReply reply = m_conn->SendCommand(command, ManufacturingTimeoutMs);
            if (!reply.completed)
                qCWarning(lcApp) << command << "got no complete reply:" << reply.errorText;
            vm::link::CommandResponse& response = m_conn->Response();
            const int n = response.Lines().Count();
            QStringList lines;
            for (int line = 1; line <= n; ++line)
                lines << response.ReadLine(ManufacturingTimeoutMs);
            setBlockText(i, BlockText(lines, QLatin1String(blocks[i].endOfBlock)));
        }
    } while (m_refill && m_conn);
    m_filling = false;
    emit filled();
}

QString frmSettings::blockText(int index) const {
    return m_texts.value(index);
}

QPlainTextEdit* frmSettings::textBox(int index) const {
    return m_boxes.value(index);
}

void frmSettings::setBlockText(int index, const QString& text) {
    m_texts[index] = text;
    m_boxes[index]->setPlainText(text);
}

void frmSettings::OnConnectionReset() {
    Fill();
}

void frmSettings::done(int result) {
    if (!m_unloaded) {
        m_unloaded = true;
        m_conn.reset();
        vm::app::SaveWindowMetrics(this);
        vm::app::windows().forget(this);
    }
    QDialog::done(result);
}

} // namespace vm::settings
