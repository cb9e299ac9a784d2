#include "display/terminal.h"

#include "display/logging.h"
#include "display/xtermwnd.h"
#include "link/connection.h"
#include "link/device.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vm::display {

Terminal::Terminal(QWidget* parent)
    : QWidget(parent)
    , m_conn(new vm::link::ReaderConnection(this)) {
    m_output = new QXTermWnd(this);
    m_output->setObjectName(QStringLiteral("TerminalOutput"));
    m_input = new QLineEdit(this);
    m_input->setObjectName(QStringLiteral("TerminalInput"));
    m_input->setAccessibleName(tr("Command"));
    m_input->setPlaceholderText(tr("Type a command and press Enter"));
    m_input->setMaxLength(4000); // the reader takes lines of at most 4096 bytes
    m_input->installEventFilter(this);
    m_send = new QPushButton(tr("&Send"), this);
    m_send->setAccessibleName(tr("Send command"));
    m_clear = new QPushButton(tr("C&lear"), this);
    m_clear->setAccessibleName(tr("Clear terminal"));

    auto* row = new QHBoxLayout;
    row->addWidget(m_input, 1);
    row->addWidget(m_send);
    row->addWidget(m_clear);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(m_output, 1);
    layout->addLayout(row);
    setFocusProxy(m_input);
    setAccessibleName(tr("Terminal"));

    connect(m_input, &QLineEdit::returnPressed, this, &Terminal::sendTyped);
    connect(m_send, &QPushButton::clicked, this, &Terminal::sendTyped);
    connect(m_clear, &QPushButton::clicked, this, &Terminal::Clear);
    connect(m_conn, &vm::link::Connection::OnConnectionReset, this, &Terminal::showConnectionState);
    showConnectionState();
}

Terminal::~Terminal() = default;

void Terminal::Clear() {
    m_output->Clear();
    m_shownState.clear();
    showConnectionState();
}

void Terminal::showConnectionState() {
    const vm::link::Device* device = m_conn->Device();
    const QString state =
        m_conn->Connected() && device ? tr("Connected to %1").arg(device->Name()) : tr("No camera connected");
    // A reset that leaves things as they were is not news.
    if (state == m_shownState)
        return;
    m_shownState = state;
    m_output->AddText(QStringLiteral("-- ") + state, kNoticeColor);
}

void Terminal::sendTyped() {
    const QString text = m_input->text();
    m_input->clear();
    SendLine(text);
}

void Terminal::SendLine(const QString& text) {
    const QString line = text.trimmed();
    if (line.isEmpty() || m_busy)
        return;
    if (m_history.isEmpty() || m_history.last() != line) {
        m_history.append(line);
        while (m_history.size() > kMaxHistory)
            m_history.removeFirst();
    }
    m_historyIndex = int(m_history.size());
    m_typed.clear();

    m_output->AddText(QStringLiteral("> ") + line, kCommandColor);
    if (!m_conn->Connected()) {
        m_output->AddText(tr("(not sent: no camera connected)"), kErrorColor);
        return;
    }
    m_busy = true;
    m_send->setEnabled(false);
    const vm::link::CommandReply reply = m_conn->SendCommand(line, kReplyTimeoutMs);
    m_busy = false;
    m_send->setEnabled(true);
    for (const QString& data : reply.lines)
        m_output->AddText(data, kReplyColor);
    if (!reply.status.isEmpty())
        m_output->AddText(reply.status, reply.ok ? kOkColor : kErrorColor);
    else
        m_output->AddText(
            tr("(no reply: %1)").arg(reply.errorText.isEmpty() ? tr("timed out") : reply.errorText),
            kErrorColor);
    qCDebug(lcDisplay).noquote() << "terminal" << line << "->" << reply.status;
}

void Terminal::recall(int step) {
    if (m_history.isEmpty())
        return;
    if (m_historyIndex == m_history.size())
        m_typed = m_input->text();
    m_historyIndex = std::clamp(m_historyIndex + step, 0, int(m_history.size()));
    m_input->setText(m_historyIndex == m_history.size() ? m_typed : m_history.at(m_historyIndex));
}

bool Terminal::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_input && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up) {
            recall(-1);
            return true;
        }
        if (key->key() == Qt::Key_Down) {
            recall(+1);
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            m_input->clear();
            m_historyIndex = int(m_history.size());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vm::display
