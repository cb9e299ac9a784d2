#include "io/frmmatch.h"

#include "link/parameterset.h"
#include "link/vocabulary.h"
#include "resources/strings.h"
#include "settings/controls.h"

#include <QCheckBox>
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
constexpr qint64 kLargest = std::numeric_limits<qint32>::max();
constexpr qint64 kSmallest = std::numeric_limits<qint32>::min();

QString listName(int index) {
    return QStringLiteral("MATCH_LIST %1").arg(index + 1);
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
    auto* textFrame = new QGroupBox(vm::res::Str(20061), this);
    textFrame->setObjectName(QStringLiteral("frameTextMatching"));
    auto* text = new QGridLayout(textFrame);
    m_enableText = new QCheckBox(vm::res::Str(20062), textFrame);
    m_enableText->setObjectName(QStringLiteral("enableTextMatching"));
    auto* matchString = new QLineEdit(textFrame);
    matchString->setObjectName(QStringLiteral("m_ed(0)"));
    QLabel* textLabel = vm::settings::labelFor(matchString, vm::res::Str(20063), textFrame);
    textLabel->setObjectName(QStringLiteral("labelText"));
    text->addWidget(m_enableText, 0, 0, 1, 2);
    text->addWidget(textLabel, 1, 0);
    text->addWidget(matchString, 1, 1);
    m_ed << matchString;

    m_listCheck = new QCheckBox(vm::res::Str(20064), textFrame);
    m_listCheck->setObjectName(QStringLiteral("MatchListCheck"));
    text->addWidget(m_listCheck, 2, 0, 1, 2);
    m_listFrame = new QGroupBox(textFrame);
    m_listFrame->setObjectName(QStringLiteral("MatchListFrame"));
    auto* list = new QGridLayout(m_listFrame);
    QList<QLineEdit*> entries;
    QList<QLabel*> entryLabels;
    for (int i = 0; i < kListSize; ++i) {
        auto* entry = new QLineEdit(m_listFrame);
        entry->setObjectName(QStringLiteral("ml_ed(%1)").arg(i));
        QLabel* label = vm::settings::labelFor(entry, vm::res::Str(20065).arg(i + 1), m_listFrame);
        label->setObjectName(QStringLiteral("labelText(%1)").arg(i + 1));
        list->addWidget(label, i % 8, (i / 8) * 2);
        list->addWidget(entry, i % 8, (i / 8) * 2 + 1);
        entries << entry;
        entryLabels << label;
    }
    auto* note = new QLabel(vm::res::Str(20066), m_listFrame);
    note->setObjectName(QStringLiteral("WildcardNote"));
    list->addWidget(note, 8, 0, 1, 4);
    text->addWidget(m_listFrame, 3, 0, 1, 2);
    layout->addWidget(textFrame);

    auto* serialFrame = new QGroupBox(vm::res::Str(20067), this);
    serialFrame->setObjectName(QStringLiteral("frameSerialMatching"));
    auto* serial = new QGridLayout(serialFrame);
    m_enableSerial = new QCheckBox(vm::res::Str(20068), serialFrame);
    m_enableSerial->setObjectName(QStringLiteral("enableSerialMatching"));
    serial->addWidget(m_enableSerial, 0, 0, 1, 4);
    const QString captions[] = {vm::res::Str(20069), vm::res::Str(20070), vm::res::Str(20071),
                                vm::res::Str(20072)};
    const int rows[] = {1, 2, 4, 4};
    const int columns[] = {0, 0, 0, 2};
    auto* positions = new QLabel(vm::res::Str(20073), serialFrame);
    positions->setObjectName(QStringLiteral("labelSerial(2)"));
    serial->addWidget(positions, 3, 0, 1, 4);
    QList<QLabel*> serialLabels;
    for (int i = 0; i < 4; ++i) {
        auto* box = new QLineEdit(serialFrame);
        box->setObjectName(QStringLiteral("m_ed(%1)").arg(i + 1));
        QLabel* label = vm::settings::labelFor(box, captions[i], serialFrame);
        label->setObjectName(QStringLiteral("labelSerial(%1)").arg(i < 2 ? i : i + 1));
        serial->addWidget(label, rows[i], columns[i]);
        serial->addWidget(box, rows[i], columns[i] + 1);
        m_ed << box;
        serialLabels << label;
    }
    layout->addWidget(serialFrame);
    layout->addWidget(buttonBox());

    for (QLineEdit* box : std::as_const(m_ed))
        box->installEventFilter(this);
    // Connected before the boxes are bound, so that a typed number is held to its rule
    // before the base writes it.
    for (int i = 1; i < m_ed.size(); ++i)
        connect(m_ed[i], &QLineEdit::editingFinished, this, [this, i] { holdTyped(i); });

    // Declared in the order the reader is asked: MATCHEX, the list, then its switch. The
    // two mode boxes share field 0 of MATCHEX and are written together (modeClicked).
    declareGroup(TextMatching, [this] { return m_enableText->isChecked(); });
    declareGroup(SerialMatching, [this] { return m_enableSerial->isChecked(); });
    declare(m_enableText, kMatch, 0);
    declare(m_enableSerial, kMatch, 0);
    bindText(m_ed[0], kMatch, 1, Quotes::PairOrStrip, 128).inGroup(TextMatching).withLabels({textLabel});
    bindNumber(m_ed[1], kMatch, 2, 0, kLargest).inGroup(SerialMatching).withLabels({serialLabels[0]});
    bindNumber(m_ed[2], kMatch, 3, -kMaxIncrement, kMaxIncrement)
        .inGroup(SerialMatching)
        .withLabels({serialLabels[1]});
    bindNumber(m_ed[3], kMatch, 4, kSmallest, kMaxPosition)
        .inGroup(SerialMatching)
        .withLabels({positions, serialLabels[2]});
    bindNumber(m_ed[4], kMatch, 5, kSmallest, kMaxPosition)
        .inGroup(SerialMatching)
        .withLabels({serialLabels[3]});
    for (int i = 0; i < kListSize; ++i)
        bindText(entries[i], listName(i), 0, Quotes::PairOrStrip, 128)
            .fromLevel(vm::link::level::MatchList)
            .withLabels({entryLabels[i]});
    bindCheck(m_listCheck, kListEnable, 0, QStringLiteral("ON"), QStringLiteral("OFF"))
        .fromLevel(vm::link::level::MatchList);

    connect(m_enableText, &QCheckBox::clicked, this, &frmMatch::modeClicked);
    connect(m_enableSerial, &QCheckBox::clicked, this, &frmMatch::modeClicked);
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

void frmMatch::refresh() {
    // A mode the reader did not answer keeps the boxes as they were.
    if (isConnected() && !wasRead(kMatch))
        return;
    const QString mode = parameters().GetParameter(kMatch).Field(0);
    m_enableText->setChecked(mode == QLatin1String("T") || mode == QLatin1String("B"));
    m_enableSerial->setChecked(mode == QLatin1String("S") || mode == QLatin1String("B"));
}

void frmMatch::applyControlState(bool) {
    // The list and its switch are there only while text matching is on.
    const bool list = isConnected() && readerLevel() >= vm::link::level::MatchList;
    const bool text = m_enableText->isChecked();
    m_listCheck->setVisible(list && text);
    m_listFrame->setVisible(list && text && m_listCheck->isChecked());
}

void frmMatch::modeClicked() {
    if (updating())
        return;
    const bool text = m_enableText->isChecked(), serial = m_enableSerial->isChecked();
    parameters().GetParameter(kMatch).SetField(0, text && serial ? QStringLiteral("B")
                                                  : serial       ? QStringLiteral("S")
                                                  : text         ? QStringLiteral("T")
                                                                 : QStringLiteral("N"));
    updateControlState();
    markModified();
}

// A typed number as the reader may take it: a number too large for 32 bits is the largest
// one; the start count is not negative, the increment within +-1000, and the character
// positions from 1 to 1000 with the first not after the last.
void frmMatch::holdTyped(int index) {
    QLineEdit* box = m_ed[index];
    if (updating() || !box->isModified())
        return;
    qint64 value = vm::settings::leadingNumber(box->text());
    if (value > kLargest || value < kSmallest)
        value = kLargest;
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
        value = std::min<qint64>(std::min(std::max<qint64>(value, 1), last), kMaxPosition);
        break;
    case 4:
        value = std::min<qint64>(std::max(value, first), kMaxPosition);
        break;
    default:
        break;
    }
    box->setText(QString::number(value));
}

} // namespace vm::io
