#include "shell/frmpidcopy.h"

#include "app/prompts.h"
#include "app/windowroutines.h"
#include "link/connection.h"
#include "link/pidlist.h"
#include "link/vocabulary.h"
#include "resources/strings.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace vm::shell {

using vm::res::Str;

frmPIDCopy::frmPIDCopy(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QLatin1String(WindowName));
    setWindowTitle(Str(1353));
    setModal(true);

    m_conn = new vm::link::SettingsConnection(this);

    m_caption = new QLabel(this);
    m_caption->setObjectName(QStringLiteral("lblCaption"));
    m_pid = new QListWidget(this);
    m_pid->setObjectName(QStringLiteral("PID"));
    m_pid->setAccessibleName(Str(1353));
    m_caption->setBuddy(m_pid);

    m_buttons = new QDialogButtonBox(this);
    QPushButton* ok = m_buttons->addButton(Str(51), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("OK"));
    ok->setAccessibleName(Str(51));
    ok->setDefault(true);
    QPushButton* cancel = m_buttons->addButton(Str(52), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("Cancel"));
    cancel->setAccessibleName(Str(52));
    connect(m_buttons, &QDialogButtonBox::accepted, this, &frmPIDCopy::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &frmPIDCopy::reject);
    // Double-clicking a PID chooses it.
    connect(m_pid, &QListWidget::itemActivated, this, &frmPIDCopy::accept);
    // Without a choice there is nothing to copy.
    connect(m_pid, &QListWidget::currentRowChanged, ok, [ok](int row) { ok->setEnabled(row >= 0); });
    ok->setEnabled(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_caption);
    layout->addWidget(m_pid, 1);
    layout->addWidget(m_buttons);
    resize(280, 320);
}

frmPIDCopy::~frmPIDCopy() = default;

void frmPIDCopy::SetDirection(bool toPid) {
    m_toPid = toPid;
    m_caption->setText(Str(toPid ? 1351 : 1352));
    m_pid->clear();
    if (toPid) {
        for (int pid = 1; pid <= kHighestPid; ++pid)
            m_pid->addItem(QString::number(pid));
    } else if (m_conn->Connected()) {
        m_pid->addItems(vm::link::readStoredPids(m_conn->Response(), kPidTimeoutMs));
    }
    if (m_pid->count() > 0)
        m_pid->setCurrentRow(0);
}

void frmPIDCopy::accept() {
    QListWidgetItem* chosen = m_pid->currentItem();
    if (chosen && m_conn->Connected()) {
        const QString command = QLatin1String(m_toPid ? "STORE " : "LOAD ") + chosen->text();
        if (!m_conn->HasControl()) {
            // Control went while the dialog was open: the reader would not take the copy, and
            // the operator must not think it was made.
            vm::app::showMessage(
                this,
                QStringLiteral("Programming control of the camera was lost. \"%1\" was not sent.")
                    .arg(command),
                vm::app::PromptButtons::Ok, vm::app::PromptIcon::Exclamation);
        } else {
            const vm::link::CommandReply reply = m_conn->SendCommand(command, kPidTimeoutMs);
            if (!reply.ok)
                vm::app::tellCommandFailed(this, command, reply.errorText);
            // Even without a clear answer the reader may have loaded the PID: the other windows
            // read their settings again.
            m_conn->BroadcastMessage(QLatin1String(WindowName),
                                     QLatin1String(vm::link::broadcast::UpdateRetry), QString());
        }
    }
    // The dialog closes whatever came of the copy; a failure has been told above.
    QDialog::accept();
}

void frmPIDCopy::done(int result) {
    if (!m_unloaded) {
        m_unloaded = true;
        vm::app::SaveWindowMetrics(this);
    }
    QDialog::done(result);
}

vm::app::WindowEntry frmPIDCopy::windowEntry() {
    vm::app::WindowEntry registered;
    registered.name = QLatin1String(WindowName);
    registered.factory = [](QWidget* parent) -> QWidget* { return new frmPIDCopy(parent); };
    return registered;
}

} // namespace vm::shell
