#include "settings/settingswindow.h"

#include "app/applyparameters.h"
#include "app/logging.h"
#include "app/prompts.h"
#include "app/windowroutines.h"
#include "link/connection.h"
#include "link/fields.h"
#include "link/parameterset.h"
#include "resources/strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace vm::settings {

using vm::app::lcApp;

QLabel* labelFor(QWidget* control, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(control);
    control->setAccessibleName(QString(text).remove(QLatin1Char('&')));
    return label;
}

QComboBox* namedList(const char* name, const QStringList& items, QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QLatin1String(name));
    list->addItems(items);
    return list;
}

QLineEdit* namedBox(const char* name, QWidget* parent) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

qint64 leadingNumber(const QString& text) {
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+'))) {
        negative = t[i] == QLatin1Char('-');
        ++i;
    }
    qint64 value = 0;
    for (; i < t.size() && t[i].isDigit(); ++i) {
        value = value * 10 + t[i].digitValue();
        // Far beyond every range a window holds a value to; stop before it overflows.
        if (value > (qint64(1) << 40))
            break;
    }
    return negative ? -value : value;
}

SettingsWindow::SettingsWindow(const QString& name, Mode mode, QWidget* parent, ConnectionKind kind)
    : QDialog(parent)
    , m_mode(mode)
    , m_set(std::make_unique<vm::link::ParameterSet>()) {
    setObjectName(name);
    setAttribute(Qt::WA_DeleteOnClose);

    if (kind == ConnectionKind::Reader)
        m_conn = std::make_unique<vm::link::ReaderConnection>();
    else if (kind == ConnectionKind::Image)
        m_conn = std::make_unique<vm::link::ImageConnection>();
    else
        m_conn = std::make_unique<vm::link::SettingsConnection>();
    connect(m_conn.get(), &vm::link::Connection::OnConnectionReset, this, &SettingsWindow::onConnectionReset);
    connect(m_conn.get(), &vm::link::Connection::OnControlStatusChanged, this,
            &SettingsWindow::onControlStatusChanged);
    connect(m_conn.get(), &vm::link::Connection::OnBroadcastMessage, this, &SettingsWindow::onBroadcast);

    m_broadcastReload.setSingleShot(true);
    m_broadcastReload.setInterval(kBroadcastReloadMs);
    connect(&m_broadcastReload, &QTimer::timeout, this, &SettingsWindow::reload);

    if (m_mode == Mode::OkApply) {
        m_buttons = new QDialogButtonBox(this);
        m_ok = m_buttons->addButton(vm::res::Str(51), QDialogButtonBox::AcceptRole);
        m_cancel = m_buttons->addButton(vm::res::Str(52), QDialogButtonBox::RejectRole);
        m_apply = m_buttons->addButton(vm::res::Str(53), QDialogButtonBox::ApplyRole);
        setButtonNames(QStringLiteral("OK"), QStringLiteral("Cancel"), QStringLiteral("Apply"));
        m_ok->setDefault(true);
        connect(m_ok, &QPushButton::clicked, this, &SettingsWindow::okClicked);
        connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
        connect(m_apply, &QPushButton::clicked, this, &SettingsWindow::apply);
        m_ok->setEnabled(false);
        m_apply->setEnabled(false);
    }
}

SettingsWindow::~SettingsWindow() {
    unload();
}

void SettingsWindow::setButtonNames(const QString& ok, const QString& cancel, const QString& apply) {
    if (m_ok)
        m_ok->setObjectName(ok);
    if (m_cancel)
        m_cancel->setObjectName(cancel);
    if (m_apply)
        m_apply->setObjectName(apply);
}

bool SettingsWindow::hasControl() const {
    return m_conn && m_conn->HasControl();
}

bool SettingsWindow::isConnected() const {
    return m_conn && m_conn->Connected();
}

bool SettingsWindow::isModified() const {
    return m_edited || m_set->Modified();
}

void SettingsWindow::showEvent(QShowEvent* event) {
    ensureLoaded();
    QDialog::showEvent(event);
}

void SettingsWindow::ensureLoaded() {
    if (m_loadCount == 0 && m_loading == 0)
        reload();
}

void SettingsWindow::reload() {
    if (m_unloaded)
        return;
    m_broadcastReload.stop();
    // A reset that arrives while the reader is being asked loads again afterwards.
    if (m_loading > 0) {
        m_reloadAgain = true;
        return;
    }
    {
        const ScopedFlag loadingNow(m_loading);
        do {
            m_reloadAgain = false;
            m_set->Clear();
            m_edited = false;
            loadParameters();
        } while (m_reloadAgain && !m_unloaded);
    }
    if (m_unloaded)
        return;
    ++m_loadCount;
    refreshDisplay();
    emit loaded();
}

void SettingsWindow::loadParameters() {
    if (!isConnected())
        return;
    for (const QString& name : parametersToLoad())
        load(name);
}

bool SettingsWindow::load(const QString& name, QString* error) {
    if (!isConnected()) {
        if (error)
            *error = QStringLiteral("No Connection To Camera");
        return false;
    }
    QString why;
    if (m_set->Load(m_conn->Response(), name, &why))
        return true;
    qCInfo(lcApp) << objectName() << "could not load" << name << ':' << why;
    if (error)
        *error = why;
    return false;
}

void SettingsWindow::refreshDisplay() {
    {
        const auto guard = updateGuard();
        for (const Binding& b : m_bindings)
            b.show();
        refresh();
    }
    if (followsControl() || m_mode == Mode::ReadOnly)
        applyControlState(hasControl());
    updateButtons();
}

void SettingsWindow::applyControlState(bool control) {
    for (const Binding& b : m_bindings)
        b.control->setEnabled(control);
}

void SettingsWindow::updateButtons() {
    const bool enable = hasControl() && isModified();
    if (m_ok)
        m_ok->setEnabled(enable);
    if (m_apply)
        m_apply->setEnabled(enable);
}

void SettingsWindow::markModified() {
    if (m_mode == Mode::Immediate) {
        apply();
        return;
    }
    updateButtons();
}

void SettingsWindow::markEdited() {
    if (updating())
        return;
    m_edited = true;
    updateButtons();
}

void SettingsWindow::commitEdits() {
    for (const Binding& b : m_bindings)
        if (b.commit)
            b.commit();
    m_edited = false;
}

bool SettingsWindow::apply() {
    if (m_mode == Mode::ReadOnly || m_applying > 0 || m_unloaded)
        return false;
    commitEdits();
    if (!writeControls())
        return false;
    // Without control the reader would refuse every write; nothing is sent and the
    // changes stay in the window.
    if (!hasControl() || !m_set->Modified()) {
        updateButtons();
        return !m_set->Modified();
    }
    const ScopedFlag applying(m_applying);
    const QStringList changed = m_set->ModifiedNames();
    QString error;
    const bool ok = vm::app::ApplyParameters(m_conn->Response(), *m_set, &error);
    const QStringList refused = m_set->ModifiedNames();
    // Other windows reload what went out, even when the reader refused part of it.
    if (refused.size() < changed.size()) {
        for (const QString& word : broadcastsAfterApply())
            m_conn->BroadcastMessage(objectName(), word, QString());
    }
    if (!ok && reportsRefusals()) {
        vm::app::showMessage(
            this, QStringLiteral("The camera did not accept these settings:") + QLatin1String("\r\n") + error,
            vm::app::PromptButtons::Ok, vm::app::PromptIcon::Exclamation);
    }
    updateButtons();
    emit applied(ok);
    return ok;
}

void SettingsWindow::okClicked() {
    if (apply())
        accept();
}

void SettingsWindow::onConnectionReset() {
    reload();
}

void SettingsWindow::onControlStatusChanged() {
    if (!followsControl())
        return;
    applyControlState(hasControl());
    updateButtons();
}

void SettingsWindow::onBroadcast(const QString& sender, const QString& message, const QString& text) {
    if (sender == objectName() || m_unloaded)
        return;
    if (reloadOn().contains(message)) {
        m_broadcastReload.start();
        return;
    }
    broadcastReceived(message, text);
}

void SettingsWindow::broadcastReceived(const QString&, const QString&) {}

void SettingsWindow::done(int result) {
    unload();
    QDialog::done(result);
}

void SettingsWindow::unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_broadcastReload.stop();
    if (m_conn)
        m_conn->disconnect(this);
    m_conn.reset();
    vm::app::SaveWindowMetrics(this);
    vm::app::windows().forget(this);
}

void SettingsWindow::bindChoice(QComboBox* list, const QString& parameter, int field,
                                const QList<Choice>& choices, std::function<bool(const Choice&)> allow) {
    bindChoice(
        list, parameter, field, [choices] { return choices; }, std::move(allow));
}

void SettingsWindow::bindChoice(QComboBox* list, const QString& parameter, int field,
                                std::function<QList<Choice>()> choices,
                                std::function<bool(const Choice&)> allow) {
    auto fill = [list](const QList<Choice>& entries) {
        QStringList texts;
        for (const Choice& c : entries)
            texts << c.text;
        QStringList shown;
        for (int i = 0; i < list->count(); ++i)
            shown << list->itemText(i);
        if (shown != texts) {
            list->clear();
            list->addItems(texts);
        }
    };
    fill(choices());
    Binding b;
    b.control = list;
    b.show = [this, list, parameter, field, choices, fill] {
        const QList<Choice> entries = choices();
        fill(entries);
        const QString value = m_set->GetParameter(parameter).Field(field);
        int index = -1;
        for (int i = 0; i < entries.size(); ++i) {
            if (entries[i].value == value || entries[i].alsoReads.contains(value)) {
                index = i;
                break;
            }
        }
        list->setCurrentIndex(index);
    };
    connect(list, &QComboBox::activated, this, [this, parameter, field, choices, allow](int index) {
        const QList<Choice> entries = choices();
        if (updating() || index < 0 || index >= entries.size())
            return;
        if (allow && !allow(entries[index])) {
            refreshDisplay(); // puts the list back to what the reader holds
            return;
        }
        m_set->GetParameter(parameter).SetField(field, entries[index].value);
        refreshDisplay();
        markModified();
    });
    m_bindings.push_back(std::move(b));
}

void SettingsWindow::bindCheck(QCheckBox* box, const QString& parameter, int field, const QString& on,
                               const QString& off) {
    Binding b;
    b.control = box;
    b.show = [this, box, parameter, field, on] {
        box->setChecked(m_set->GetParameter(parameter).Field(field).compare(on, Qt::CaseInsensitive) == 0);
    };
    connect(box, &QCheckBox::clicked, this, [this, parameter, field, on, off](bool checked) {
        if (updating())
            return;
        m_set->GetParameter(parameter).SetField(field, checked ? on : off);
        refreshDisplay();
        markModified();
    });
    m_bindings.push_back(std::move(b));
}

void SettingsWindow::bindNumber(QLineEdit* box, const QString& parameter, int field, qint64 min, qint64 max,
                                const QString& rangeMessage) {
    auto edited = std::make_shared<bool>(false);
    Binding b;
    b.control = box;
    b.show = [this, box, parameter, field, edited] {
        *edited = false;
        box->setText(m_set->GetParameter(parameter).Field(field));
    };
    b.commit = [this, box, parameter, field, min, max, rangeMessage, edited] {
        if (!*edited)
            return;
        *edited = false;
        qint64 value = leadingNumber(box->text());
        const qint64 held = std::clamp(value, min, max);
        if (held != value && !rangeMessage.isEmpty())
            vm::app::showMessage(this, rangeMessage);
        value = held;
        const QString text = QString::number(value);
        {
            const auto guard = updateGuard();
            box->setText(text);
        }
        m_set->GetParameter(parameter).SetField(field, text);
    };
    connectTypedBox(box, edited, b.commit);
    m_bindings.push_back(std::move(b));
}

void SettingsWindow::bindText(QLineEdit* box, const QString& parameter, int field, Quotes quotes) {
    auto edited = std::make_shared<bool>(false);
    Binding b;
    b.control = box;
    b.show = [this, box, parameter, field, quotes, edited] {
        *edited = false;
        const QString value = m_set->GetParameter(parameter).Field(field);
        box->setText(quotes == Quotes::Pair       ? vm::link::unquoteField(value)
                     : quotes == Quotes::DropEnds ? vm::link::dropEnds(value)
                                                  : value);
    };
    b.commit = [this, box, parameter, field, quotes, edited] {
        if (!*edited)
            return;
        *edited = false;
        m_set->GetParameter(parameter).SetField(
            field, quotes == Quotes::None ? box->text() : vm::link::quoteField(box->text()));
    };
    connectTypedBox(box, edited, b.commit);
    m_bindings.push_back(std::move(b));
}

void SettingsWindow::connectTypedBox(QLineEdit* box, const std::shared_ptr<bool>& edited,
                                     const std::function<void()>& commit) {
    connect(box, &QLineEdit::textEdited, this, [this, edited] {
        if (updating())
            return;
        *edited = true;
        markEdited();
    });
    connect(box, &QLineEdit::editingFinished, this, [this, commit, edited] {
        if (updating() || !*edited)
            return;
        commit();
        refreshDisplay();
        markModified();
    });
}

TriggerFrame SettingsWindow::addTriggerFrame() {
    TriggerFrame t;
    t.frame = new QGroupBox(vm::res::Str(20155), this);
    t.frame->setObjectName(QStringLiteral("TRIG_Frame"));
    t.grid = new QGridLayout(t.frame);
    t.enabled = new QCheckBox(vm::res::Str(20156), t.frame);
    t.enabled->setObjectName(QStringLiteral("TRIG_Enabled"));
    t.edge = new QComboBox(t.frame);
    t.edge->setObjectName(QStringLiteral("TRIG_Polarity"));
    t.edgeLabel = labelFor(t.edge, vm::res::Str(20157), t.frame);
    t.edgeLabel->setObjectName(QStringLiteral("TrigPolarityLabel"));
    t.grid->addWidget(t.enabled, 0, 0, 1, 2);
    t.grid->addWidget(t.edgeLabel, 1, 0);
    t.grid->addWidget(t.edge, 1, 1);
    bindCheck(t.enabled, QStringLiteral("TRIG"), 0, QStringLiteral("T"), QStringLiteral("C"));
    bindChoice(t.edge, QStringLiteral("TE"), 0,
               {{vm::res::Str(20158), QStringLiteral("P")},
                {vm::res::Str(20159), QStringLiteral("N")},
                {vm::res::Str(106), QStringLiteral("B")}});
    return t;
}

} // namespace vm::settings
