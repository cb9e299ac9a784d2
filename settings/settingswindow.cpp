#include "settings/settingswindow.h"

#include "app/applyparameters.h"
#include "app/logging.h"
#include "app/programstate.h"
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
#include <QVBoxLayout>

#include <algorithm>

namespace vm::settings {

using vm::app::lcApp;

QString unquotableMessage(const QString& text, const QString& boxName) {
    if (vm::link::isQuotableText(text))
        return QString();
    // Named as its caption reads, without the caption's colon.
    QString name = boxName.trimmed();
    if (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    return QStringLiteral("The text in \"%1\" cannot hold a double quote followed by a blank: the camera "
                          "would read it as two settings.")
        .arg(name);
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

    m_footer = new QWidget(this);
    m_footer->setObjectName(QStringLiteral("SettingsFooter"));
    auto* footer = new QVBoxLayout(m_footer);
    footer->setContentsMargins(0, 0, 0, 0);
    m_note = new QLabel(m_footer);
    m_note->setObjectName(QStringLiteral("NotReadNote"));
    m_note->setWordWrap(true);
    m_note->setTextFormat(Qt::PlainText);
    m_note->setAccessibleName(QStringLiteral("Settings not read"));
    m_note->setVisible(false);
    footer->addWidget(m_note);
    if (m_mode == Mode::OkApply || m_mode == Mode::OkCancel) {
        m_buttons = new QDialogButtonBox(m_footer);
        footer->addWidget(m_buttons);
        m_ok = m_buttons->addButton(vm::res::Str(51), QDialogButtonBox::AcceptRole);
        m_cancel = m_buttons->addButton(vm::res::Str(52), QDialogButtonBox::RejectRole);
        if (m_mode == Mode::OkApply)
            m_apply = m_buttons->addButton(vm::res::Str(53), QDialogButtonBox::ApplyRole);
        setButtonNames(QStringLiteral("OK"), QStringLiteral("Cancel"), QStringLiteral("Apply"));
        m_ok->setDefault(true);
        connect(m_ok, &QPushButton::clicked, this, &SettingsWindow::okPressed);
        connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
        m_ok->setEnabled(false);
        if (m_apply) {
            connect(m_apply, &QPushButton::clicked, this, &SettingsWindow::apply);
            m_apply->setEnabled(false);
        }
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

int SettingsWindow::readerLevel() const {
    return isConnected() ? vm::app::firmwareLevel() : 0;
}

bool SettingsWindow::wasRead(const QString& parameter) const {
    const vm::link::Parameter* p = m_set->Find(parameter);
    return p && p->Loaded();
}

bool SettingsWindow::isModified() const {
    return m_edited || m_set->Modified();
}

QList<const Declared*> SettingsWindow::declaredControls() const {
    QList<const Declared*> out;
    for (const auto& d : m_declared)
        out << d.get();
    return out;
}

bool SettingsWindow::exists(const Declared& d) const {
    return d.m_fromLevel <= 0 || readerLevel() >= d.m_fromLevel;
}

void SettingsWindow::declareGroup(int group, std::function<bool()> rule) {
    m_groups.insert(group, std::move(rule));
}

void SettingsWindow::showEvent(QShowEvent* event) {
    // A window that did not place the footer gets it at the bottom of its layout, so that
    // the note naming what could not be read is never missing.
    if (!m_footerPlaced && layout()) {
        m_footerPlaced = true;
        if (auto* box = qobject_cast<QBoxLayout*>(layout()))
            box->addWidget(m_footer);
        else if (auto* grid = qobject_cast<QGridLayout*>(layout()))
            grid->addWidget(m_footer, grid->rowCount(), 0, 1, qMax(1, grid->columnCount()));
    }
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
            m_notRead.clear();
            m_edited = false;
            loadParameters();
        } while (m_reloadAgain && !m_unloaded);
    }
    if (m_unloaded)
        return;
    ++m_loadCount;
    m_hadControl = hasControl();
    m_notSent.clear();
    m_notSentPending = false;
    refreshDisplay();
    emit loaded();
}

QStringList SettingsWindow::parametersToLoad() const {
    QStringList names;
    for (const auto& d : m_declared)
        if (!d->m_parameter.isEmpty() && exists(*d) && !names.contains(d->m_parameter) &&
            !writtenWithoutReading().contains(d->m_parameter))
            names << d->m_parameter;
    return names;
}

void SettingsWindow::loadParameters() {
    if (!isConnected())
        return;
    for (const QString& name : parametersToLoad())
        load(name);
}

bool SettingsWindow::load(const QString& name, QString* error) {
    return loadWith(name, error, [this](const QString& n, QString* why) {
        return m_set->Load(m_conn->Response(), n, why);
    });
}

bool SettingsWindow::loadCompound(const QString& name, QString* error) {
    return loadWith(name, error, [this](const QString& n, QString* why) {
        return m_set->LoadCompound(m_conn->Response(), n, why);
    });
}

bool SettingsWindow::loadWith(const QString& name, QString* error,
                              const std::function<bool(const QString&, QString*)>& loader) {
    if (!isConnected()) {
        if (error)
            *error = QStringLiteral("No Connection To Camera");
        return false;
    }
    QString why;
    if (loader(name, &why))
        return true;
    qCInfo(lcApp) << objectName() << "could not load" << name << ':' << why;
    markNotRead(name);
    if (error)
        *error = why;
    return false;
}

void SettingsWindow::markNotRead(const QString& name) {
    if (!m_notRead.contains(name))
        m_notRead << name;
}

void SettingsWindow::refreshDisplay() {
    {
        const auto guard = updateGuard();
        const QStringList whole = writtenWithoutReading();
        for (const auto& d : m_declared) {
            if (!d->m_show)
                continue;
            // What the reader did not answer is not shown as if it had: the control keeps
            // what it showed before.
            if (d->m_parameter.isEmpty() || wasRead(d->m_parameter) || whole.contains(d->m_parameter) ||
                !isConnected())
                d->m_show();
        }
        refresh();
    }
    // Also in a window that ignores control changes: what the reader did not answer is greyed.
    updateControlState();
    updateNote();
    updateButtons();
}

void SettingsWindow::updateControlState() {
    const bool control = hasControl();
    const bool inputs = inputsAllowed();
    const QStringList whole = writtenWithoutReading();
    for (const auto& d : m_declared) {
        const bool there = exists(*d);
        if (d->m_fromLevel > 0) {
            d->m_control->setVisible(there);
            for (QWidget* label : std::as_const(d->m_labels))
                label->setVisible(there);
        }
        const auto rule = m_groups.constFind(d->m_group);
        const bool groupOn = rule == m_groups.constEnd() || !*rule || (*rule)();
        const bool read =
            d->m_parameter.isEmpty() || wasRead(d->m_parameter) || whole.contains(d->m_parameter);
        // Marked only when the reader was asked and did not answer: a parameter the window
        // leaves alone at this reader's level is not "not read".
        const bool unread = isConnected() && !read && m_notRead.contains(d->m_parameter);
        d->m_control->setProperty(kNotReadProperty, unread);
        d->m_control->setToolTip(unread ? QStringLiteral("Not read from the camera: %1").arg(d->m_parameter)
                                        : QString());
        d->m_control->setEnabled(inputs && there && read && groupOn && m_mode != Mode::ReadOnly);
        for (QWidget* label : std::as_const(d->m_labels))
            label->setEnabled(groupOn);
    }
    applyControlState(control);
}

void SettingsWindow::updateNote() {
    if (m_notRead.isEmpty() || !isConnected()) {
        m_note->clear();
        m_note->setVisible(false);
        return;
    }
    // The reader may not have answered, or answered with an error (a setting its firmware does
    // not have): either way the window does not know the value.
    m_note->setText(QStringLiteral("Could not be read from the camera: %1. Those settings are greyed and are "
                                   "not sent.")
                        .arg(m_notRead.join(QStringLiteral(", "))));
    m_note->setVisible(true);
}

void SettingsWindow::updateButtons() {
    if (m_ok)
        m_ok->setEnabled(okAllowed());
    if (m_apply)
        m_apply->setEnabled(hasControl() && isModified());
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
    for (const auto& d : m_declared)
        if (d->m_commit)
            d->m_commit();
    m_edited = false;
}

QStringList SettingsWindow::dropUnreadChanges() {
    const QStringList whole = writtenWithoutReading();
    QStringList dropped;
    for (const QString& name : m_set->ModifiedNames()) {
        vm::link::Parameter& p = m_set->GetParameter(name);
        if (p.Loaded() || whole.contains(name))
            continue;
        // Written back, a parameter never read would carry only the fields this window
        // set, and the reader would take the blanks for values.
        p.setModified(false);
        dropped << name;
    }
    return dropped;
}

QStringList SettingsWindow::pendingNames() const {
    return m_set->ModifiedNames();
}

bool SettingsWindow::apply() {
    if (m_mode == Mode::ReadOnly || m_applying > 0 || m_unloaded)
        return false;
    commitEdits();
    if (!writeControls())
        return false;
    for (const auto& d : m_declared) {
        if (!d->m_check || !d->m_control->isEnabled())
            continue;
        const QString message = d->m_check();
        if (!message.isEmpty()) {
            vm::app::showMessage(this, message, vm::app::PromptButtons::Ok, vm::app::PromptIcon::Exclamation);
            d->m_control->setFocus();
            return false;
        }
    }
    const Validation check = validate();
    if (!check.passed()) {
        vm::app::showMessage(this, check.message, vm::app::PromptButtons::Ok, check.icon, check.title);
        if (check.focus)
            check.focus->setFocus();
        return false;
    }
    const QStringList unread = dropUnreadChanges();
    if (!unread.isEmpty()) {
        vm::app::showMessage(
            this,
            QStringLiteral("These settings were not sent because they could not be read from "
                           "the camera: %1.")
                .arg(unread.join(QStringLiteral(", "))),
            vm::app::PromptButtons::Ok, vm::app::PromptIcon::Exclamation);
    }
    // Without control the reader would refuse every write; nothing is sent and the
    // changes stay in the window.
    if (!hasControl() || !m_set->Modified()) {
        updateButtons();
        return !m_set->Modified() && unread.isEmpty();
    }
    const ScopedFlag applying(m_applying);
    const QStringList changed = m_set->ModifiedNames();
    QString error;
    const bool ok = vm::app::ApplyParameters(m_conn->Response(), *m_set, &error);
    if (m_unloaded)
        return ok;
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
    if (!ok && m_mode == Mode::Immediate && isConnected()) {
        // A window that sends at once shows what the reader holds, not what it refused.
        for (const QString& name : refused) {
            m_set->GetParameter(name).setModified(false);
            load(name);
        }
        refreshDisplay();
    }
    updateButtons();
    emit applied(ok && unread.isEmpty());
    return ok && unread.isEmpty();
}

void SettingsWindow::okPressed() {
    if (apply())
        accept();
}

void SettingsWindow::onConnectionReset() {
    reload();
}

void SettingsWindow::onControlStatusChanged() {
    const bool control = hasControl();
    const bool collects = m_mode == Mode::OkApply || m_mode == Mode::OkCancel;
    const QStringList unsent =
        m_hadControl && !control && collects && !m_unloaded ? unsentChanges() : QStringList();
    if (m_hadControl && !control && collects && (isModified() || !unsent.isEmpty()) && !m_unloaded) {
        // Told after the event that announced the loss, outside the link's signal.
        m_notSent = unsent;
        m_notSentPending = true;
        QTimer::singleShot(0, this, [this] {
            if (!m_notSentPending || hasControl() || m_unloaded)
                return;
            m_notSentPending = false;
            const QString names = m_notSent.join(QStringLiteral(", "));
            m_notSent.clear();
            const QString lost = QStringLiteral("Programming control of the camera was lost.");
            vm::app::showMessage(
                this,
                names.isEmpty() ? lost + QStringLiteral(" The changes made in this window were not sent.")
                                : lost + QStringLiteral(" These changes were not sent: %1.").arg(names),
                vm::app::PromptButtons::Ok, vm::app::PromptIcon::Exclamation);
        });
    }
    m_hadControl = control;
    // OK and Apply always follow control; the inputs only in windows that follow it.
    if (followsControl())
        updateControlState();
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

Declared& SettingsWindow::addDeclared(QWidget* control, const QString& parameter, int field) {
    auto d = std::make_unique<Declared>();
    d->m_control = control;
    d->m_parameter = parameter;
    d->m_field = field;
    m_declared.push_back(std::move(d));
    return *m_declared.back();
}

Declared& SettingsWindow::declare(QWidget* control, const QString& parameter, int field) {
    return addDeclared(control, parameter, field);
}

Declared& SettingsWindow::bindChoice(QComboBox* list, const QString& parameter, int field,
                                     const QList<Choice>& choices, std::function<bool(const Choice&)> allow) {
    return bindChoice(
        list, parameter, field, [choices] { return choices; }, std::move(allow));
}

Declared& SettingsWindow::bindChoice(QComboBox* list, const QString& parameter, int field,
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
    Declared& d = addDeclared(list, parameter, field);
    d.m_show = [this, list, parameter, field, choices, fill] {
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
    return d;
}

Declared& SettingsWindow::bindCheck(QCheckBox* box, const QString& parameter, int field, const QString& on,
                                    const QString& off) {
    Declared& d = addDeclared(box, parameter, field);
    d.m_show = [this, box, parameter, field, on] {
        box->setChecked(m_set->GetParameter(parameter).Field(field).compare(on, Qt::CaseInsensitive) == 0);
    };
    connect(box, &QCheckBox::clicked, this, [this, parameter, field, on, off](bool checked) {
        if (updating())
            return;
        m_set->GetParameter(parameter).SetField(field, checked ? on : off);
        refreshDisplay();
        markModified();
    });
    return d;
}

Declared& SettingsWindow::bindNumber(QLineEdit* box, const QString& parameter, int field, qint64 min,
                                     qint64 max, const QString& rangeMessage) {
    auto edited = std::make_shared<bool>(false);
    Declared& d = addDeclared(box, parameter, field);
    d.m_show = [this, box, parameter, field, edited] {
        *edited = false;
        box->setText(m_set->GetParameter(parameter).Field(field));
    };
    d.m_commit = [this, box, parameter, field, min, max, rangeMessage, edited] {
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
    connectTypedBox(box, edited, d.m_commit);
    return d;
}

Declared& SettingsWindow::bindText(QLineEdit* box, const QString& parameter, int field, Quotes quotes,
                                   int maxLength) {
    if (maxLength > 0)
        box->setMaxLength(maxLength);
    auto edited = std::make_shared<bool>(false);
    Declared& d = addDeclared(box, parameter, field);
    d.m_show = [this, box, parameter, field, quotes, edited] {
        *edited = false;
        const QString value = m_set->GetParameter(parameter).Field(field);
        box->setText(quotes == Quotes::Pair          ? vm::link::unquoteField(value)
                     : quotes == Quotes::DropEnds    ? vm::link::dropEnds(value)
                     : quotes == Quotes::PairOrStrip ? vm::link::unquoteOrStrip(value)
                                                     : value);
    };
    d.m_commit = [this, box, parameter, field, quotes, edited] {
        if (!*edited)
            return;
        *edited = false;
        m_set->GetParameter(parameter).SetField(
            field, quotes == Quotes::None ? box->text() : vm::link::quoteField(box->text()));
    };
    if (quotes != Quotes::None) {
        d.m_check = [box] {
            return unquotableMessage(box->text(), box->accessibleName().isEmpty() ? box->objectName()
                                                                                  : box->accessibleName());
        };
    }
    connectTypedBox(box, edited, d.m_commit);
    return d;
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
