#include "io/frmmatch.h"

#include "app/programstate.h"
#include "link/fields.h"
#include "link/parameterset.h"
#include "link/vocabulary.h"
#include "resources/strings.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace vm::io {

namespace {

const QString kMatch = QStringLiteral("MATCHEX");
const QString kListEnable = QStringLiteral("MATCH_LIST_ENABLE");

QString listName(int index) {
    return QStringLiteral("MATCH_LIST %1").arg(index + 1);
}

QString shown(const QString& field) {
    if (field.size() >= 2 && field.startsWith(QLatin1Char('"')) && field.endsWith(QLatin1Char('"')))
        return field.mid(1, field.size() - 2);
    return QString(field).remove(QLatin1Char('"'));
}

bool matchList() {
    return vm::app::firmwareLevel() >= vm::link::level::MatchList;
}

// The focused field's colour (0x00BBGGRR C0FFFF: light yellow).
const QColor kFocusColour(0xFF, 0xFF, 0xC0);

} // namespace

frmMatch::frmMatch(QWidget* parent)
    : SettingsWindow(QLatin1String(WindowName), Mode::OkApply, parent) {
    setWindowTitle(vm::res::Str(20059));
    setButtonNames(QStringLiteral("btnOK"), QStringLiteral("btnCancel"), QStringLiteral("btnApply"));
    buildControls();
    ensureLoaded();
}

vm::app::WindowEntry frmMatch::windowEntry() {
    // No string number of its own: between "IO Settings..." (2030) and "Symbology..." (2040).
    return vm::settings::settingsMenuWindow<frmMatch>(WindowName, 2035, "mnuMatch", vm::res::Str(20060));
}

void frmMatch::buildControls() {
    auto* layout = new QVBoxLayout(this);
    m_textFrame = new QGroupBox(vm::res::Str(20061), this);
    m_textFrame->setObjectName(QStringLiteral("frameTextMatching"));
    auto* text = new QGridLayout(m_textFrame);
    m_enableText = new QCheckBox(vm::res::Str(20062), m_textFrame);
    m_enableText->setObjectName(QStringLiteral("enableTextMatching"));
    auto* matchString = new QLineEdit(m_textFrame);
    matchString->setObjectName(QStringLiteral("m_ed(0)"));
    matchString->setMaxLength(128);
    m_textLabel = vm::settings::labelFor(matchString, vm::res::Str(20063), m_textFrame);
    m_textLabel->setObjectName(QStringLiteral("labelText"));
    text->addWidget(m_enableText, 0, 0, 1, 2);
    text->addWidget(m_textLabel, 1, 0);
    text->addWidget(matchString, 1, 1);
    m_ed << matchString;

    m_listCheck = new QCheckBox(vm::res::Str(20064), m_textFrame);
    m_listCheck->setObjectName(QStringLiteral("MatchListCheck"));
    text->addWidget(m_listCheck, 2, 0, 1, 2);
    m_listFrame = new QGroupBox(m_textFrame);
    m_listFrame->setObjectName(QStringLiteral("MatchListFrame"));
    auto* list = new QGridLayout(m_listFrame);
    for (int i = 0; i < kListSize; ++i) {
        auto* entry = new QLineEdit(m_listFrame);
        entry->setObjectName(QStringLiteral("ml_ed(%1)").arg(i));
        entry->setMaxLength(128);
        QLabel* label = vm::settings::labelFor(entry, vm::res::Str(20065).arg(i + 1), m_listFrame);
        label->setObjectName(QStringLiteral("labelText(%1)").arg(i + 1));
        list->addWidget(label, i % 8, (i / 8) * 2);
        list->addWidget(entry, i % 8, (i / 8) * 2 + 1);
        m_list << entry;
        connect(entry, &QLineEdit::textEdited, this, [this, i] {
            if (updating())
                return;
            m_listEdited[i] = true;
            markEdited();
        });
        connect(entry, &QLineEdit::editingFinished, this, [this, i] { listLeft(i); });
    }
    auto* note = new QLabel(vm::res::Str(20066), m_listFrame);
    note->setObjectName(QStringLiteral("WildcardNote"));
    list->addWidget(note, 8, 0, 1, 4);
    text->addWidget(m_listFrame, 3, 0, 1, 2);
    layout->addWidget(m_textFrame);

    m_serialFrame = new QGroupBox(vm::res::Str(20067), this);
    m_serialFrame->setObjectName(QStringLiteral("frameSerialMatching"));
    auto* serial = new QGridLayout(m_serialFrame);
    m_enableSerial = new QCheckBox(vm::res::Str(20068), m_serialFrame);
    m_enableSerial->setObjectName(QStringLiteral("enableSerialMatching"));
    serial->addWidget(m_enableSerial, 0, 0, 1, 4);
    const QString captions[] = {vm::res::Str(20069), vm::res::Str(20070), vm::res::Str(20071),
                                vm::res::Str(20072)};
    const int rows[] = {1, 2, 4, 4};
    const int columns[] = {0, 0, 0, 2};
    auto* positions = new QLabel(vm::res::Str(20073), m_serialFrame);
    positions->setObjectName(QStringLiteral("labelSerial(2)"));
    serial->addWidget(positions, 3, 0, 1, 4);
    for (int i = 0; i < 4; ++i) {
        auto* box = new QLineEdit(m_serialFrame);
        box->setObjectName(QStringLiteral("m_ed(%1)").arg(i + 1));
        QLabel* label = vm::settings::labelFor(box, captions[i], m_serialFrame);
        label->setObjectName(QStringLiteral("labelSerial(%1)").arg(i < 2 ? i : i + 1));
        serial->addWidget(label, rows[i], columns[i]);
        serial->addWidget(box, rows[i], columns[i] + 1);
        m_ed << box;
        m_serialLabels << label;
    }
    m_serialLabels << positions;
    layout->addWidget(m_serialFrame);
    layout->addWidget(buttonBox());

    for (int i = 0; i < m_ed.size(); ++i) {
        m_ed[i]->installEventFilter(this);
        connect(m_ed[i], &QLineEdit::textEdited, this, [this, i] {
            if (updating())
                return;
            m_edited[i] = true;
            markEdited();
        });
        connect(m_ed[i], &QLineEdit::editingFinished, this, [this, i] { fieldLeft(i); });
    }
    m_edited = QList<bool>(m_ed.size(), false);
    m_listEdited = QList<bool>(kListSize, false);
    connect(m_enableText, &QCheckBox::clicked, this, &frmMatch::modeClicked);
    connect(m_enableSerial, &QCheckBox::clicked, this, &frmMatch::modeClicked);
    connect(m_listCheck, &QCheckBox::clicked, this, [this](bool checked) {
        if (updating())
            return;
        parameters()
            .GetParameter(kListEnable)
            .SetField(0, checked ? QStringLiteral("ON") : QStringLiteral("OFF"));
        markModified();
        stateRule();
    });
}

bool frmMatch::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        if (auto* box = qobject_cast<QLineEdit*>(watched)) {
            QPalette p = box->palette();
            p.setColor(QPalette::Base,
                       event->type() == QEvent::FocusIn ? kFocusColour : palette().color(QPalette::Base));
            box->setPalette(p);
        }
    }
    return SettingsWindow::eventFilter(watched, event);
}

void frmMatch::loadParameters() {
    std::fill(m_edited.begin(), m_edited.end(), false);
    std::fill(m_listEdited.begin(), m_listEdited.end(), false);
    if (!isConnected())
        return;
    load(kMatch);
    if (matchList()) {
        for (int i = 0; i < kListSize; ++i)
            load(listName(i));
        load(kListEnable);
    }
}

void frmMatch::refresh() {
    const vm::link::Parameter& match = parameters().GetParameter(kMatch);
    const QString mode = match.Field(0);
    m_enableText->setChecked(mode == QLatin1String("T") || mode == QLatin1String("B"));
    m_enableSerial->setChecked(mode == QLatin1String("S") || mode == QLatin1String("B"));
    for (int i = 0; i < m_ed.size(); ++i)
        if (!m_edited[i])
            m_ed[i]->setText(shown(match.Field(i + 1)));
    // Older readers have no match list: nothing of it enters the set.
    if (!matchList())
        return;
    for (int i = 0; i < kListSize; ++i)
        if (!m_listEdited[i])
            m_list[i]->setText(shown(parameters().GetParameter(listName(i)).Field(0)));
    m_listCheck->setChecked(parameters().GetParameter(kListEnable).Field(0) == QLatin1String("ON"));
}

void frmMatch::applyControlState(bool) {
    stateRule();
}

void frmMatch::stateRule() {
    if (!isConnected()) {
        m_listCheck->setVisible(false);
        m_listFrame->setVisible(false);
        return;
    }
    const bool control = hasControl();
    for (QWidget* w : m_ed)
        w->setEnabled(control);
    m_enableText->setEnabled(control);
    m_enableSerial->setEnabled(control);
    m_listCheck->setEnabled(control);
    for (QWidget* w : m_list)
        w->setEnabled(control);
    const bool text = m_enableText->isChecked();
    const bool list = matchList();
    m_listCheck->setVisible(list && text);
    m_listFrame->setVisible(list && text && m_listCheck->isChecked());
    m_ed[0]->setEnabled(control && text);
    m_textLabel->setEnabled(text);
    const bool serial = m_enableSerial->isChecked();
    for (int i = 1; i < m_ed.size(); ++i)
        m_ed[i]->setEnabled(control && serial);
    for (QLabel* l : m_serialLabels)
        l->setEnabled(serial);
}

void frmMatch::modeClicked() {
    if (updating())
        return;
    const bool text = m_enableText->isChecked(), serial = m_enableSerial->isChecked();
    parameters().GetParameter(kMatch).SetField(0, text && serial ? QStringLiteral("B")
                                                  : serial       ? QStringLiteral("S")
                                                  : text         ? QStringLiteral("T")
                                                                 : QStringLiteral("N"));
    markModified();
    stateRule();
}

void frmMatch::fieldLeft(int index) {
    if (updating() || !m_edited[index])
        return;
    m_edited[index] = false;
    vm::link::Parameter& match = parameters().GetParameter(kMatch);
    if (index == 0) {
        match.SetField(1, vm::link::quoteField(m_ed[0]->text()));
        markModified();
        return;
    }
    qint64 value = vm::settings::leadingNumber(m_ed[index]->text());
    if (value > std::numeric_limits<qint32>::max() || value < std::numeric_limits<qint32>::min())
        value = std::numeric_limits<qint32>::max();
    const qint64 first = vm::settings::leadingNumber(m_ed[3]->text());
    const qint64 last = vm::settings::leadingNumber(m_ed[4]->text());
    switch (index) {
    case 1:
        value = std::max<qint64>(value, 0);
        break;
    case 2:
        value = std::clamp<qint64>(value, -kMaxIncrement, kMaxIncrement);
        break;
    case 3:
        if (value < 1)
            value = 1;
        if (value > last)
            value = last;
        if (value > kMaxPosition)
            value = kMaxPosition;
        break;
    case 4:
        if (value < first)
            value = first;
        if (value > kMaxPosition)
            value = kMaxPosition;
        break;
    default:
        break;
    }
    {
        const auto guard = updateGuard();
        m_ed[index]->setText(QString::number(value));
    }
    match.SetField(index + 1, QString::number(value));
    markModified();
}

void frmMatch::listLeft(int index) {
    if (updating() || !m_listEdited[index])
        return;
    m_listEdited[index] = false;
    parameters().GetParameter(listName(index)).SetField(0, vm::link::quoteField(m_list[index]->text()));
    markModified();
}

bool frmMatch::writeControls() {
    for (int i = 0; i < m_ed.size(); ++i)
        fieldLeft(i);
    for (int i = 0; i < kListSize; ++i)
        listLeft(i);
    return true;
}

} // namespace vm::io
