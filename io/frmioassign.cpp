#include "io/frmioassign.h"

#include "app/programstate.h"
#include "app/prompts.h"
#include "app/windowroutines.h"
#include "link/connection.h"
#include "link/device.h"
#include "link/fields.h"
#include "link/parameterset.h"
#include "link/pidlist.h"
#include "link/vocabulary.h"
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

namespace vm::io {

using vm::link::dropEnds;
using vm::settings::leadingNumber;

namespace {

constexpr int kFirstInputTag = 13; // READ_A
constexpr int kLastInputTag = 20;  // CALIBRATE

QString inputsList(int level) {
    return level >= vm::link::level::CalibrateInput
               ? QStringLiteral("READ_A, READ_B, READ_C, READ_D, RETRY, LEARN, MATCH_SET, and CALIBRATE")
               : QStringLiteral("READ_A, READ_B, READ_C, READ_D, RETRY, LEARN, and MATCH_SET");
}

void message(QWidget* parent, const QString& text) {
    vm::app::showMessage(parent, text, vm::app::PromptButtons::Ok, vm::app::PromptIcon::None);
}

// A field the reader calls "no PID" reads as "0".
QString pidText(const QString& field) {
    return field == QLatin1String("CLEAR") || field.isEmpty() ? QStringLiteral("0") : field;
}

// The mask as the reader takes it: "0x" and at most 20 hexadecimal characters.
QString maskField(const QString& text) {
    QString rest = text;
    for (const char* prefix : {"&h", "&H", "0x", "0X"})
        if (rest.startsWith(QLatin1String(prefix))) {
            rest = rest.mid(2);
            break;
        }
    return QStringLiteral("0x") + rest.left(20);
}

// Refills a list only when its entries change, so that a line the reader did not answer keeps
// what it showed; a refilled list shows no entry until the reader's value selects one.
void setEntries(QComboBox* list, const QStringList& entries) {
    QStringList shown;
    for (int i = 0; i < list->count(); ++i)
        shown << list->itemText(i);
    if (shown == entries)
        return;
    list->clear();
    list->addItems(entries);
    list->setCurrentIndex(-1);
}

} // namespace

const QList<IOTag>& ioTags() {
    static const QList<IOTag> tags = {
        {"PASS", false},
        {"FAIL", false},
        {"DV", false},
        {"RTE", false},
        {"GOOD", false},
        {"FAIR", false},
        {"POOR", false},
        {"ANGLE_FAILURE", false},
        {"LOCATE_FAILURE", false},
        {"DECODE_FAILURE", false},
        {"MATCH_FAILURE", false},
        {"READY", false},
        {"READ_A", true},
        {"READ_B", true},
        {"READ_C", true},
        {"READ_D", true},
        {"RETRY", true},
        {"LEARN", true},
        {"MATCH_SET", true},
        {"CALIBRATE", true},
        {"MATCH_BIT_1", false},
        {"MATCH_BIT_2", false},
        {"MATCH_BIT_3", false},
        {"MATCH_BIT_4", false},
        {"LIGHT_CTL_BIT_1", false},
        {"LIGHT_CTL_BIT_2", false},
        {"LIGHT_CTL_BIT_3", false},
        {"LIGHT_CTL_BIT_4", false},
    };
    return tags;
}

int offeredTagCount(int firmwareLevel) {
    if (firmwareLevel >= vm::link::level::LightControl)
        return 28;
    if (firmwareLevel >= vm::link::level::MatchList)
        return 24;
    if (firmwareLevel >= vm::link::level::CalibrateInput)
        return 20;
    return 19;
}

const QStringList& criterionTypes() {
    static const QStringList types = {"BOOL",      "MASK",      "NOMINAL_DEV", "MAX_MIN",
                                      "INPUT_POS", "INPUT_NEG", "INPUT_BOTH"};
    return types;
}

QPair<QString, QString> argumentCaptions(int type) {
    switch (type) {
    case 1:
        return {QStringLiteral("Mask"), QString()};
    case 2:
        return {QStringLiteral("Nominal"), QStringLiteral("Dev")};
    case 3:
        return {QStringLiteral("Max"), QStringLiteral("Min")};
    case 4:
    case 5:
    case 6:
        return {QStringLiteral("Delay"), QStringLiteral("Latch")};
    default:
        return {};
    }
}

frmIOAssign::frmIOAssign(QWidget* parent)
    : SettingsWindow(QLatin1String(WindowName), Mode::OkApply, parent) {
    setWindowTitle(QStringLiteral("(no camera) - IO Assignment"));
    setButtonNames(QStringLiteral("btnOK"), QStringLiteral("btnCancel"), QStringLiteral("btnApply"));
    buildControls();
    connect(connection(), &vm::link::Connection::OnLineStateChanged, this, &frmIOAssign::lineStateChanged);
    // What the lines show once loaded, to tell the operator's changes from the reader's words.
    connect(this, &SettingsWindow::loaded, this, [this] {
        m_loadedFields.clear();
        for (const Shown& p : shownFields())
            m_loadedFields.insert(p.parameter, p.fields);
    });
    ensureLoaded();
}

vm::app::WindowEntry frmIOAssign::windowEntry() {
    vm::app::WindowEntry registered;
    registered.name = QLatin1String(WindowName);
    registered.factory = [](QWidget* parent) -> QWidget* { return new frmIOAssign(parent); };
    return registered;
}

QString frmIOAssign::lineWord(int line) {
    return line < kFirstGpioLine ? QStringLiteral("OPTO_OUT%1").arg(line + 1)
                                 : QStringLiteral("GPIO_OUT%1").arg(line - kFirstGpioLine + 1);
}

void frmIOAssign::buildControls() {
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    for (int i = 0; i < kLineCount; ++i) {
        Line line;
        line.frame = new QGroupBox(lineWord(i), this);
        line.frame->setObjectName(QStringLiteral("IOLineFrame(%1)").arg(i));
        auto* box = new QGridLayout(line.frame);
        line.tag = new QComboBox(line.frame);
        line.tag->setObjectName(QStringLiteral("TagNameCombo(%1)").arg(i));
        line.tag->setAccessibleName(lineWord(i) + QStringLiteral(" tag"));
        line.type = new QComboBox(line.frame);
        line.type->setObjectName(QStringLiteral("TypeCombo(%1)").arg(i));
        line.type->setAccessibleName(lineWord(i) + QStringLiteral(" criterion"));
        line.type->addItems(criterionTypes());
        line.arg1 = new QLineEdit(line.frame);
        line.arg1->setObjectName(QStringLiteral("Argument1Text(%1)").arg(i));
        line.arg1Label = new QLabel(line.frame);
        line.arg1Label->setObjectName(QStringLiteral("Arg1Label(%1)").arg(i));
        line.arg1Label->setBuddy(line.arg1);
        line.arg2 = new QLineEdit(line.frame);
        line.arg2->setObjectName(QStringLiteral("Argument2Text(%1)").arg(i));
        line.arg2Label = new QLabel(line.frame);
        line.arg2Label->setObjectName(QStringLiteral("Arg2Label(%1)").arg(i));
        line.arg2Label->setBuddy(line.arg2);
        line.polarity = new QCheckBox(vm::res::Str(20029), line.frame);
        line.polarity->setObjectName(QStringLiteral("PolarityCheck(%1)").arg(i));
        line.polarity->setAccessibleName(lineWord(i) + QStringLiteral(" High True"));
        line.state = new QLabel(line.frame);
        line.state->setObjectName(QStringLiteral("LineState(%1)").arg(i));
        line.state->setAccessibleName(lineWord(i) + QStringLiteral(" state"));
        box->addWidget(line.tag, 0, 0, 1, 2);
        box->addWidget(line.state, 0, 2);
        box->addWidget(line.type, 1, 0, 1, 2);
        box->addWidget(line.polarity, 1, 2);
        box->addWidget(line.arg1Label, 2, 0);
        box->addWidget(line.arg1, 2, 1, 1, 2);
        box->addWidget(line.arg2Label, 3, 0);
        box->addWidget(line.arg2, 3, 1, 1, 2);
        if (i >= kFirstGpioLine) {
            line.pid = new QComboBox(line.frame);
            line.pid->setObjectName(QStringLiteral("PID(%1)").arg(i - kFirstGpioLine));
            line.pidLabel = new QLabel(vm::res::Str(20030), line.frame);
            line.pidLabel->setObjectName(QStringLiteral("PIDLabel(%1)").arg(i - kFirstGpioLine));
            line.pidLabel->setBuddy(line.pid);
            line.pid->setAccessibleName(lineWord(i) + QStringLiteral(" PID"));
            box->addWidget(line.pidLabel, 4, 0);
            box->addWidget(line.pid, 4, 1, 1, 2);
            connect(line.pid, &QComboBox::activated, this, [this] {
                if (!updating())
                    markEdited();
            });
        }
        grid->addWidget(line.frame, i < kFirstGpioLine ? 0 : 1, i < kFirstGpioLine ? i : i - kFirstGpioLine);
        connect(line.tag, &QComboBox::activated, this, [this, i](int index) { tagChosen(i, index); });
        connect(line.type, &QComboBox::activated, this, [this, i](int index) { typeChosen(i, index); });
        for (int which : {1, 2}) {
            QLineEdit* edit = which == 1 ? line.arg1 : line.arg2;
            connect(edit, &QLineEdit::textEdited, this, &frmIOAssign::markEdited);
            connect(edit, &QLineEdit::editingFinished, this, [this, i, which] { argumentLeft(i, which); });
        }
        connect(line.polarity, &QCheckBox::clicked, this, [this] {
            if (!updating())
                markEdited();
        });
        m_lines.append(line);
    }

    auto* input = new QGroupBox(QStringLiteral("OPTO_IN1"), this);
    input->setObjectName(QStringLiteral("OInFrame"));
    auto* in = new QGridLayout(input);
    m_delay = new QLineEdit(input);
    m_delay->setObjectName(QStringLiteral("OInDelay"));
    m_latch = new QLineEdit(input);
    m_latch->setObjectName(QStringLiteral("OInLatch"));
    m_inputPid = new QComboBox(input);
    m_inputPid->setObjectName(QStringLiteral("OInPID"));
    m_inputState = new QLabel(input);
    m_inputState->setObjectName(QStringLiteral("OInState"));
    m_inputState->setAccessibleName(QStringLiteral("OPTO_IN1 state"));
    const std::pair<QWidget*, QString> rows[] = {
        {m_delay, vm::res::Str(20031)}, {m_latch, vm::res::Str(20032)}, {m_inputPid, vm::res::Str(20033)}};
    int row = 0;
    for (const auto& [control, caption] : rows) {
        auto* label = new QLabel(caption, input);
        label->setBuddy(control);
        control->setAccessibleName(QStringLiteral("OPTO_IN1 ") + QString(caption).remove(QLatin1Char('&')));
        in->addWidget(label, row, 0);
        in->addWidget(control, row, 1);
        ++row;
    }
    in->addWidget(m_inputState, 0, 2);
    grid->addWidget(input, 0, kFirstGpioLine);
    for (QLineEdit* edit : {m_delay, m_latch}) {
        connect(edit, &QLineEdit::textEdited, this, &frmIOAssign::markEdited);
        connect(edit, &QLineEdit::editingFinished, this, [this, edit] {
            if (updating())
                return;
            const qint64 value = std::clamp<qint64>(leadingNumber(edit->text()), 0, kInputArgumentMax);
            edit->setText(QString::number(value));
            markEdited();
        });
    }
    connect(m_inputPid, &QComboBox::activated, this, [this] {
        if (!updating())
            markEdited();
    });
    layout->addLayout(grid);
    layout->addWidget(buttonBox());

    // The window fills and writes them itself (a line's tag, criterion and PID depend on
    // each other); declared so that a parameter the reader did not answer greys them.
    for (int i = 0; i < kLineCount; ++i) {
        const Line& line = m_lines[i];
        const QString assignment = QStringLiteral("IOASSIGN ") + lineWord(i);
        const int group = kLineGroups + 3 * i;
        declareGroup(group, [this, i] { return criterionKnown(i); });
        declareGroup(group + 1, [this, i] {
            return criterionKnown(i) && !argumentCaptions(m_lines[i].type->currentIndex()).first.isEmpty();
        });
        declareGroup(group + 2, [this, i] {
            return criterionKnown(i) && !argumentCaptions(m_lines[i].type->currentIndex()).second.isEmpty();
        });
        declare(line.tag, assignment);
        declare(line.type, assignment).inGroup(group);
        declare(line.arg1, assignment).inGroup(group + 1);
        declare(line.arg2, assignment).inGroup(group + 2);
        declare(line.polarity, QStringLiteral("SIGOUT ") + lineWord(i));
        if (line.pid)
            declare(line.pid, QStringLiteral("ASSIGNEX %1").arg(i));
        // Unassigned until the reader says otherwise.
        line.type->hide();
        setType(i, 0);
    }
    declare(m_delay, QStringLiteral("TD"));
    declare(m_latch, QStringLiteral("TBL"));
    declare(m_inputPid, QStringLiteral("ASSIGNEX 2"));
}

bool frmIOAssign::isInputTag(int tagIndex) const {
    return tagIndex >= kFirstInputTag && tagIndex <= kLastInputTag;
}

int frmIOAssign::gpio1Selection() const {
    return m_lines.size() > kFirstGpioLine ? std::max(0, m_lines[kFirstGpioLine].tag->currentIndex()) : 0;
}

void frmIOAssign::fillTagLists() {
    QStringList entries = {QString()};
    const int offered = offeredTagCount(vm::app::firmwareLevel());
    for (int i = 0; i < offered; ++i)
        entries << QLatin1String(ioTags()[i].word);
    for (const Line& line : std::as_const(m_lines))
        setEntries(line.tag, entries);
}

void frmIOAssign::fillPidLists() {
    const QStringList entries = QStringList{QStringLiteral("0")} + m_storedPids;
    for (QComboBox* list : {m_inputPid, m_lines[3].pid, m_lines[4].pid, m_lines[5].pid, m_lines[6].pid})
        setEntries(list, entries);
}

QString frmIOAssign::tagOf(int line) const {
    const int index = m_lines[line].tag->currentIndex();
    return index > 0 ? m_lines[line].tag->itemText(index) : QString();
}

bool frmIOAssign::criterionKnown(int line) const {
    const QString tag = tagOf(line);
    return !tag.isEmpty() && (m_criteria.contains(tag) || m_chosenTags.contains(tag));
}

void frmIOAssign::edited() {
    updateControlState();
    markEdited();
}

void frmIOAssign::loadParameters() {
    m_criteria.clear();
    m_chosenTags.clear();
    if (!isConnected())
        return;
    m_storedPids = vm::link::readStoredPids(connection()->Response());
    const int offered = offeredTagCount(vm::app::firmwareLevel());
    for (int i = 0; i < offered; ++i) {
        const QString tag = QLatin1String(ioTags()[i].word);
        const QString name = QStringLiteral("SET_CRITERIA ") + tag;
        if (!load(name))
            continue;
        const vm::link::Parameter& p = parameters().GetParameter(name);
        m_criteria.insert(tag, {dropEnds(p.Field(0)), dropEnds(p.Field(1)), dropEnds(p.Field(2))});
    }
    for (const char* name : {"TD", "TBL", "ASSIGNEX 2"})
        load(QLatin1String(name));
    for (int i = 0; i < kLineCount; ++i) {
        if (i >= kFirstGpioLine)
            load(QStringLiteral("ASSIGNEX %1").arg(i));
        load(QStringLiteral("SIGOUT ") + lineWord(i));
        load(QStringLiteral("IOASSIGN ") + lineWord(i));
    }
}

void frmIOAssign::refresh() {
    fillTagLists();
    fillPidLists();
    // What the reader did not answer keeps what it showed.
    auto field = [this](const QString& name) { return parameters().GetParameter(name).Field(0); };
    auto selectPid = [&](QComboBox* list, const QString& name) {
        if (wasRead(name))
            list->setCurrentIndex(list->findText(pidText(field(name))));
    };
    if (wasRead(QStringLiteral("TD")))
        m_delay->setText(field(QStringLiteral("TD")));
    if (wasRead(QStringLiteral("TBL")))
        m_latch->setText(field(QStringLiteral("TBL")));
    selectPid(m_inputPid, QStringLiteral("ASSIGNEX 2"));
    for (int i = 0; i < kLineCount; ++i) {
        Line& line = m_lines[i];
        if (line.pid)
            selectPid(line.pid, QStringLiteral("ASSIGNEX %1").arg(i));
        const QString polarity = QStringLiteral("SIGOUT ") + lineWord(i);
        if (wasRead(polarity))
            line.polarity->setChecked(field(polarity) == QLatin1String("H"));
        const QString assignment = QStringLiteral("IOASSIGN ") + lineWord(i);
        if (!wasRead(assignment))
            continue;
        const QString tag = dropEnds(field(assignment));
        const int index = tag.isEmpty() ? 0 : std::max(0, line.tag->findText(tag));
        line.tag->setCurrentIndex(index);
        if (index == 0) {
            unassign(i);
            continue;
        }
        line.type->show();
        const auto known = m_criteria.constFind(tagOf(i));
        if (known == m_criteria.constEnd()) {
            // The reader did not answer for the tag's criterion: nothing of it is shown.
            setType(i, 0);
            line.type->setCurrentIndex(-1);
            line.arg1->clear();
            line.arg2->clear();
        } else {
            setType(i, std::max(0, int(criterionTypes().indexOf(known->type))));
            line.arg1->setText(known->arg1);
            line.arg2->setText(known->arg2);
        }
        presentInput(i);
    }
    // The lines as the reader last reported them; its events keep them current.
    if (vm::link::Device* device = connection() ? connection()->Device() : nullptr) {
        const auto states = device->LineStates();
        for (auto it = states.cbegin(); it != states.cend(); ++it)
            lineStateChanged(it.key(), it.value().first, it.value().second);
    }
}

void frmIOAssign::setType(int index, int type) {
    Line& line = m_lines[index];
    line.type->setCurrentIndex(type);
    const auto captions = argumentCaptions(type);
    // An argument the type does not use is disabled (its line's enable group).
    line.arg1Label->setText(captions.first);
    line.arg2Label->setText(captions.second);
    line.arg1->setAccessibleName(lineWord(index) + QLatin1Char(' ') +
                                 (captions.first.isEmpty() ? QStringLiteral("argument 1") : captions.first));
    line.arg2->setAccessibleName(
        lineWord(index) + QLatin1Char(' ') +
        (captions.second.isEmpty() ? QStringLiteral("argument 2") : captions.second));
}

void frmIOAssign::unassign(int index) {
    Line& line = m_lines[index];
    line.tag->setCurrentIndex(0);
    line.polarity->show();
    line.type->hide();
    setType(index, 0);
    line.arg1->clear();
    line.arg2->clear();
    presentInput(index);
}

void frmIOAssign::presentInput(int index) {
    Line& line = m_lines[index];
    const bool input = index >= kFirstGpioLine && isInputTag(line.tag->currentIndex());
    if (input)
        line.frame->setTitle(QStringLiteral("GPIO_IN%1").arg(index - 2));
    else if (index < kFirstGpioLine)
        line.frame->setTitle(QStringLiteral("OPTO_OUT%1").arg(index + 1));
    else
        line.frame->setTitle(QStringLiteral("GPIO_OUT%1").arg(index - 2));
    if (line.pid) {
        line.pid->setVisible(input);
        line.pidLabel->setVisible(input);
    }
    line.polarity->setVisible(!input);
}

bool frmIOAssign::externalLightingInUse() {
    load(QStringLiteral("ILLUM"));
    load(QStringLiteral("RETRYEX"));
    const vm::link::Parameter& illum = parameters().GetParameter(QStringLiteral("ILLUM"));
    const vm::link::Parameter& retry = parameters().GetParameter(QStringLiteral("RETRYEX"));
    if (illum.Field(0).contains(QLatin1String("EXT")))
        return true;
    if (retry.Field(0) == QLatin1String("LIGHT")) {
        const int lighting = retry.FieldCount() > 10 ? 19 : (retry.FieldCount() >= 5 ? 7 : -1);
        if (lighting >= 0 && retry.Field(lighting).contains(QLatin1String("EXT")))
            return true;
    }
    // What the application mode window shows but has not sent counts as well.
    if (QWidget* app = vm::app::windows().find(QStringLiteral("BasicApplication"))) {
        if (app->property("retryModeText").toString() == QLatin1String("Light") &&
            app->property("retryLightingText").toString().contains(QLatin1String("Ext")))
            return true;
        if (app->property("lightingText").toString().contains(QLatin1String("Ext")))
            return true;
    }
    return false;
}

void frmIOAssign::tagChosen(int index, int tagIndex) {
    if (updating() || tagIndex < 0)
        return;
    Line& line = m_lines[index];
    if (index == kFirstGpioLine && tagIndex > 0 && externalLightingInUse()) {
        message(this, vm::res::Str(20034));
        unassign(index);
        edited();
        return;
    }
    if (isInputTag(tagIndex) && index < kFirstGpioLine) {
        message(this, vm::res::Str(20035));
        unassign(index);
        edited();
        return;
    }
    if (tagIndex == 0) {
        unassign(index);
        edited();
        return;
    }
    // A tag lives on one line only.
    for (int other = 0; other < kLineCount; ++other)
        if (other != index && m_lines[other].tag->currentIndex() == tagIndex)
            unassign(other);

    const QString tag = line.tag->itemText(tagIndex);
    // The line's criterion is now the defaults below, whatever the reader held for the tag.
    m_chosenTags.insert(tag);
    line.type->show();
    line.polarity->show();
    if (isInputTag(tagIndex)) {
        setType(index, 4);
        line.arg1->setText(QStringLiteral("0"));
        line.arg2->setText(QStringLiteral("0"));
    } else if (tag == QLatin1String("ANGLE_FAILURE")) {
        setType(index, 2);
        line.arg1->setText(QStringLiteral("0"));
        line.arg2->setText(QStringLiteral("15"));
    } else if (tag == QLatin1String("LOCATE_FAILURE")) {
        setType(index, 1);
        line.arg1->setText(QStringLiteral("&H7FFFFFFF"));
        line.arg2->clear();
    } else {
        setType(index, 0);
        line.arg1->clear();
        line.arg2->clear();
    }
    presentInput(index);
    edited();
}

void frmIOAssign::typeChosen(int index, int type) {
    if (updating() || type < 0)
        return;
    Line& line = m_lines[index];
    const int tagIndex = line.tag->currentIndex();
    const int level = vm::app::firmwareLevel();
    if (tagIndex <= 0) {
        unassign(index);
    } else if (isInputTag(tagIndex) && type < 4) {
        message(this,
                QStringLiteral("Only INPUT_POS, INPUT_NEG, and INPUT_BOTH may be used with the inputs ") +
                    inputsList(level));
        setType(index, 4);
    } else if (!isInputTag(tagIndex) && type >= 4) {
        message(this, criterionTypes()[type] + QStringLiteral(" is only valid with the inputs ") +
                          inputsList(level));
        setType(index, 0);
    } else {
        setType(index, type);
    }
    edited();
}

void frmIOAssign::argumentLeft(int index, int which) {
    if (updating())
        return;
    Line& line = m_lines[index];
    const int tagIndex = line.tag->currentIndex();
    if (tagIndex <= 0)
        return;
    const QString tag = line.tag->itemText(tagIndex);
    const int type = line.type->currentIndex();
    QLineEdit* edit = which == 1 ? line.arg1 : line.arg2;
    if (type == 1) {
        if (which != 1)
            return;
        QString text = edit->text().trimmed();
        for (const char* prefix : {"&h", "&H", "0x", "0X"})
            if (text.startsWith(QLatin1String(prefix))) {
                text = text.mid(2);
                break;
            }
        bool ok = false;
        const qint64 value = std::max<qint64>(0, text.toLongLong(&ok, 16));
        edit->setText(QStringLiteral("0x") + QString::number(ok ? value : 0, 16).toUpper());
        markEdited();
        return;
    }
    qint64 value = leadingNumber(edit->text());
    if (type >= 4) {
        value = std::clamp<qint64>(value, 0, kInputArgumentMax);
    } else if (tag == QLatin1String("ANGLE_FAILURE") && (type == 2 || type == 3)) {
        if (value < 0 || value > 359)
            value = 0;
    } else {
        value = std::clamp<qint64>(value, -1000, 1000);
    }
    edit->setText(QString::number(value));
    if (type == 3) {
        const qint64 max = leadingNumber(line.arg1->text());
        const qint64 min = leadingNumber(line.arg2->text());
        if (max < min) {
            if (which == 1)
                line.arg2->setText(line.arg1->text());
            else
                line.arg1->setText(line.arg2->text());
        }
    }
    markEdited();
}

QList<frmIOAssign::Shown> frmIOAssign::shownFields() const {
    // Every line as the window shows it, so that the reader's lines are exactly these (the
    // reader would keep a tag on two lines). What the reader did not answer is left alone.
    QList<Shown> shown;
    auto one = [&](const QString& name, const QString& value) {
        if (wasRead(name))
            shown.append({name, {value}});
    };
    one(QStringLiteral("ASSIGNEX 2"), m_inputPid->currentText());
    one(QStringLiteral("TD"), m_delay->text());
    one(QStringLiteral("TBL"), m_latch->text());
    for (int i = 0; i < kLineCount; ++i) {
        const Line& line = m_lines[i];
        const QString tag = tagOf(i);
        if (criterionKnown(i)) {
            const QString type = line.type->currentText();
            QString a1, a2;
            if (type == QLatin1String("MASK")) {
                a1 = maskField(line.arg1->text());
            } else if (type != QLatin1String("BOOL")) {
                a1 = line.arg1->text();
                a2 = line.arg2->text();
            }
            shown.append({QStringLiteral("SET_CRITERIA ") + tag,
                          {type, vm::link::quoteField(a1), vm::link::quoteField(a2)}});
        }
        if (line.pid)
            one(QStringLiteral("ASSIGNEX %1").arg(i), line.pid->currentText());
        one(QStringLiteral("SIGOUT ") + lineWord(i),
            line.polarity->isChecked() ? QStringLiteral("H") : QStringLiteral("L"));
        one(QStringLiteral("IOASSIGN ") + lineWord(i), tag.isEmpty() ? QStringLiteral("CLEAR") : tag);
    }
    return shown;
}

bool frmIOAssign::writeControls() {
    for (const Shown& p : shownFields()) {
        vm::link::Parameter& parameter = parameters().GetParameter(p.parameter);
        for (int f = 0; f < int(p.fields.size()); ++f)
            parameter.SetField(f, p.fields[f]);
    }
    return true;
}

QStringList frmIOAssign::unsentChanges() const {
    // What the operator changed since the load: the lines that show other fields than they
    // showed then (a reader's quoted or empty words are shown as the window writes them).
    QStringList names = pendingNames();
    if (!isModified())
        return names;
    for (const Shown& p : shownFields()) {
        bool differs = false;
        if (m_loadedFields.contains(p.parameter)) {
            differs = m_loadedFields.value(p.parameter) != p.fields;
        } else {
            // A criterion that came with a tag the operator chose: changed where it differs
            // from what the reader holds for that tag.
            const vm::link::Parameter* held = parameters().Find(p.parameter);
            for (int f = 0; f < int(p.fields.size()); ++f)
                differs = differs || !held ||
                          vm::link::unquoteOrStrip(held->Field(f)) != vm::link::unquoteOrStrip(p.fields[f]);
        }
        if (differs && !names.contains(p.parameter))
            names << p.parameter;
    }
    return names;
}

QStringList frmIOAssign::writtenWithoutReading() const {
    // A tag the operator put on a line goes with the whole criterion the window shows.
    QStringList names;
    for (const QString& tag : m_chosenTags)
        names << QStringLiteral("SET_CRITERIA ") + tag;
    return names;
}

QString frmIOAssign::frameCaption(int line) const {
    return m_lines.value(line).frame ? m_lines[line].frame->title() : QString();
}

QString frmIOAssign::lineState(int line) const {
    return m_lines.value(line).state ? m_lines[line].state->text() : QString();
}

void frmIOAssign::lineStateChanged(const QString& word, bool active, bool high) {
    QLabel* label = nullptr;
    if (word == QLatin1String("OPTO_IN1"))
        label = m_inputState;
    for (int i = 0; i < kLineCount && !label; ++i)
        if (lineWord(i) == word)
            label = m_lines[i].state;
    if (!label)
        return;
    label->setText(active ? vm::res::Str(20036) : vm::res::Str(20020));
    label->setToolTip(high ? vm::res::Str(20037) : vm::res::Str(20038));
    label->setStyleSheet(active
                             ? QStringLiteral("QLabel { background: #80ff80; padding: 1px 4px; }")
                             : QStringLiteral("QLabel { background: palette(window); padding: 1px 4px; }"));
}

} // namespace vm::io
