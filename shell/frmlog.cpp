#include "shell/frmlog.h"

#include "app/windowroutines.h"
#include "display/xtermwnd.h"
#include "resources/strings.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace vm::shell {

frmLog::frmLog(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QLatin1String(WindowName));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setSizeGripEnabled(true);
    setWindowTitle(vm::res::Str(819));

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("Picture1"));
    picture->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
    picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    m_caption = new QLabel(vm::res::Str(20221), this);
    m_caption->setObjectName(QStringLiteral("lblCaption"));
    m_caption->setWordWrap(true);
    m_caption->setTextFormat(Qt::PlainText);

    m_log = new vm::display::QXTermWnd(this);
    m_log->setObjectName(QStringLiteral("m_log"));
    // A fixed-pitch font keeps the reader's error columns lined up.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setFamilies({QStringLiteral("Fixedsys"), font.family()});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    m_log->setFont(font);
    m_log->setAccessibleName(vm::res::Str(20222));

    m_ok = new QPushButton(vm::res::Str(51), this);
    m_ok->setObjectName(QStringLiteral("btnOK"));
    m_ok->setDefault(true);
    m_ok->setAccessibleName(vm::res::Str(51));
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    m_stop = new QPushButton(QStringLiteral("Stop Loading"), this);
    m_stop->setObjectName(QStringLiteral("btnStop"));
    m_stop->setAccessibleName(m_stop->text());
    m_stop->hide();
    connect(m_stop, &QPushButton::clicked, this, [this] {
        m_stopRequested = true;
        m_stop->setEnabled(false);
    });

    auto* top = new QHBoxLayout;
    top->addWidget(picture);
    top->addWidget(m_caption, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_stop);
    buttons->addWidget(m_ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_log, 1);
    layout->addLayout(buttons);

    setTabOrder(m_log, m_ok);
    resize(560, 360);
}

void frmLog::Clear() {
    m_log->Clear();
}

void frmLog::AddText(const QString& text, quint32 colour) {
    m_log->AddText(text, colour);
}

void frmLog::SetCaption(const QString& text) {
    m_caption->setText(text);
}

QString frmLog::caption() const {
    return m_caption->text();
}

void frmLog::SetLoading(bool loading) {
    m_loading = loading;
    m_stopRequested = false;
    m_stop->setEnabled(true);
    m_stop->setVisible(loading);
}

void frmLog::done(int result) {
    // Closing the log during a load stops the load: it would otherwise go on unseen.
    if (m_loading)
        m_stopRequested = true;
    if (!m_unloaded) {
        m_unloaded = true;
        vm::app::SaveWindowMetrics(this);
        vm::app::windows().forget(this);
    }
    QDialog::done(result);
}

vm::app::WindowEntry frmLog::windowEntry() {
    vm::app::WindowEntry registered;
    registered.name = QLatin1String(WindowName);
    registered.factory = [](QWidget* parent) -> QWidget* { return new frmLog(parent); };
    // The log tells of a load into the focused reader: like the settings windows it closes
    // when the operator moves on to another reader.
    return registered;
}

} // namespace vm::shell
