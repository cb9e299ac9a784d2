#include "io/basicoutput.h"

#include "app/programstate.h"
#include "app/prompts.h"
#include "app/windowroutines.h"
#include "link/parameterset.h"
#include "link/vocabulary.h"
#include "resources/strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace vm::io {

using vm::settings::Choice;

namespace {

// Decode Pass, Decode Fail, RT Error, Locate Fail, Match Pass, Match Fail.
const int kCaptions[] = {20301, 20302, 20303, 20304, 20305, 20306};
const QString kMatch = QStringLiteral("MATCHEX");

} // namespace

const QStringList& BasicOutput::eventParameters() {
    static const QStringList names = {"OKDEC", "DECFL", "RTE", "LOCFL", "OKMATCH", "MATCHFL"};
    return names;
}

BasicOutput::BasicOutput(QWidget* parent)
    : SettingsWindow(QLatin1String(WindowName), Mode::OkApply, parent) {
    setWindowTitle(vm::res::Str(20001));
    buildControls();
    ensureLoaded();
}

vm::app::WindowEntry BasicOutput::windowEntry() {
    vm::app::WindowEntry registered;
    registered.name = QLatin1String(WindowName);
    registered.factory = [](QWidget* parent) -> QWidget* { return new BasicOutput(parent); };
    registered.reopensAtStart = true;
    return registered;
}

void BasicOutput::buildControls() {
    auto* layout = new QVBoxLayout(this);
    auto* events = new QGroupBox(this);
    events->setObjectName(QStringLiteral("EventFrame"));
    auto* grid = new QGridLayout(events);
    m_sendLabel = new QLabel(vm::res::Str(20002), events);
    m_sendLabel->setObjectName(QStringLiteral("Send_Label"));
    auto* headerLabel = new QLabel(vm::res::Str(20003), events);
    headerLabel->setObjectName(QStringLiteral("Header_Label"));
    auto* trailerLabel = new QLabel(vm::res::Str(20004), events);
    trailerLabel->setObjectName(QStringLiteral("Trailer_Label"));
    grid->addWidget(m_sendLabel, 0, 0);
    grid->addWidget(headerLabel, 0, 3);
    grid->addWidget(trailerLabel, 0, 4);
    const QStringList beepTexts = {vm::res::Str(20005), vm::res::Str(20006), vm::res::Str(20007),
                                   vm::res::Str(20008)};
    for (int i = 0; i < 6; ++i) {
        const QString caption = vm::res::Str(kCaptions[i]);
        const QString parameter = eventParameters()[i];
        auto* enable = new QCheckBox(caption, events);
        enable->setObjectName(QStringLiteral("EnableCheck(%1)").arg(i));
        auto* report = new QLineEdit(events);
        report->setObjectName(QStringLiteral("ReportEdit(%1)").arg(i));
        report->setAccessibleName(caption + vm::res::Str(20009));
        auto* keyword = new QPushButton(QStringLiteral("..."), events);
        keyword->setObjectName(QStringLiteral("btnKeyword(%1)").arg(i));
        keyword->setAccessibleName(caption + vm::res::Str(20010));
        keyword->setToolTip(vm::res::Str(20011));
        keyword->setMaximumWidth(32);
        auto* header = new QCheckBox(events);
        header->setObjectName(QStringLiteral("HeaderCheck(%1)").arg(i));
        header->setAccessibleName(caption + vm::res::Str(20012));
        auto* trailer = new QCheckBox(events);
        trailer->setObjectName(QStringLiteral("TrailerCheck(%1)").arg(i));
        trailer->setAccessibleName(caption + vm::res::Str(20013));
        auto* beeps = new QComboBox(events);
        beeps->setObjectName(QStringLiteral("BeepCombo(%1)").arg(i));
        beeps->setAccessibleName(caption + vm::res::Str(20014));
        grid->addWidget(enable, i + 1, 0);
        grid->addWidget(report, i + 1, 1);
        grid->addWidget(keyword, i + 1, 2);
        grid->addWidget(header, i + 1, 3, Qt::AlignCenter);
        grid->addWidget(trailer, i + 1, 4, Qt::AlignCenter);
        grid->addWidget(beeps, i + 1, 5);
        m_report << report;
        m_keyword << keyword;

        bindCheck(enable, parameter, 0, QStringLiteral("Y"), QStringLiteral("N"));
        bindText(report, parameter, 1, Quotes::PairOrStrip, 128);
        // The keyword button adds to the row's text: it follows the row's parameter.
        declare(keyword, parameter, 1);
        bindCheck(header, parameter, 2, QStringLiteral("Y"), QStringLiteral("N"));
        bindCheck(trailer, parameter, 3, QStringLiteral("Y"), QStringLiteral("N"));
        QList<Choice> counts;
        for (int n = 0; n < 4; ++n)
            counts.append({beepTexts[n], QString::number(n)});
        bindChoice(beeps, parameter, 4, counts);
        connect(keyword, &QPushButton::clicked, this, [this, i] { showKeywords(i); });
    }
    grid->setColumnStretch(1, 1);
    layout->addWidget(events);

    auto* common = new QGridLayout;
    auto* headerText = new QLineEdit(this);
    headerText->setObjectName(QStringLiteral("Header"));
    auto* trailerText = new QLineEdit(this);
    trailerText->setObjectName(QStringLiteral("Trailer"));
    common->addWidget(vm::settings::labelFor(headerText, vm::res::Str(20015), this), 0, 0);
    common->addWidget(headerText, 0, 1);
    common->addWidget(vm::settings::labelFor(trailerText, vm::res::Str(20016), this), 1, 0);
    common->addWidget(trailerText, 1, 1);
    bindText(headerText, QStringLiteral("HEADER"), 0, Quotes::PairOrStrip, 128);
    bindText(trailerText, QStringLiteral("TRAILER"), 0, Quotes::PairOrStrip, 128);
    auto* outFormat = new QCheckBox(vm::res::Str(20017), this);
    outFormat->setObjectName(QStringLiteral("OutFormat"));
    bindCheck(outFormat, QStringLiteral("OUTPUT FORMAT"), 0, QStringLiteral("HEX"), QStringLiteral("RAW"));
    m_matchEnable = new QCheckBox(vm::res::Str(20018), this);
    m_matchEnable->setObjectName(QStringLiteral("MatchEnable"));
    auto* match = new QLineEdit(this);
    match->setObjectName(QStringLiteral("Match"));
    match->setAccessibleName(vm::res::Str(20018));
    // Checked for every mode but "N" (refresh), so not a plain check of one word.
    declare(m_matchEnable, kMatch, 0);
    connect(m_matchEnable, &QCheckBox::clicked, this, [this](bool checked) {
        if (updating())
            return;
        parameters().GetParameter(kMatch).SetField(0, checked ? QStringLiteral("T") : QStringLiteral("N"));
        refreshDisplay();
        markModified();
    });
    bindText(match, kMatch, 1, Quotes::PairOrStrip, 128);
    common->addWidget(outFormat, 2, 0, 1, 2);
    common->addWidget(m_matchEnable, 3, 0);
    common->addWidget(match, 3, 1);
    layout->addLayout(common);
    layout->addWidget(buttonBox());

    m_menuKeyword = new QMenu(this);
    m_menuKeyword->setObjectName(QStringLiteral("menuKeyword"));
    const QList<QPair<QString, QString>> items = {
        {QStringLiteral("(DATA)"), QStringLiteral("(DATA)")},
        {QStringLiteral("(PID#)"), QStringLiteral("(PID#)")},
        {QStringLiteral("(TIMESTAMP)"), QStringLiteral("(TIMESTAMP)")},
        {QStringLiteral("(DETAILED)"), QStringLiteral("(DETAILED)")},
        {QStringLiteral("(VERI_GRADE)"), QStringLiteral("(VERI_GRADE)")},
        {QStringLiteral("(VERI_DETAIL)"), QStringLiteral("(VERI_DETAIL)")},
        {QStringLiteral("(VERI_FORMATTED)"), QStringLiteral("(VERI_FORMATTED)")},
        {QStringLiteral("New line (\\0d\\0a)"), QStringLiteral("\\0d\\0a")},
    };
    for (const auto& [caption, text] : items) {
        QAction* a = m_menuKeyword->addAction(caption);
        connect(a, &QAction::triggered, this, [this, text] {
            // Appended at the end, whatever the caret, and typed as the operator types.
            QLineEdit* target = m_report.value(m_keywordTarget);
            if (!target || !target->isEnabled())
                return;
            target->deselect();
            target->end(false);
            target->insert(text);
            // Into the set at once: the box may never have had the focus to leave.
            commitEdits();
            markModified();
        });
    }
}

void BasicOutput::showKeywords(int row) {
    m_keywordTarget = row;
    QPushButton* button = m_keyword[row];
    m_menuKeyword->popup(button->mapToGlobal(QPoint(button->width(), 0)));
}

QStringList BasicOutput::parametersToLoad() const {
    return {"OKDEC",   "DECFL",   "LOCFL",         "RTE",    "MATCHEX",
            "OKMATCH", "MATCHFL", "OUTPUT FORMAT", "HEADER", "TRAILER"};
}

void BasicOutput::loadParameters() {
    m_loadError.clear();
    if (vm::app::firmwareLevel() >= vm::link::level::FormatEditor) {
        handOver();
        return;
    }
    if (!isConnected())
        return;
    // The first parameter the reader does not answer ends the load; what follows is not
    // asked for, and stays as it was, like the one that failed.
    for (const QString& name : parametersToLoad())
        if (!load(name, &m_loadError))
            return;
}

void BasicOutput::handOver() {
    if (m_handingOver)
        return;
    m_handingOver = true;
    QTimer::singleShot(0, this, [this] {
        vm::app::windows().open(QStringLiteral("frmOutput"), vm::app::mainWindow());
        close();
    });
}

void BasicOutput::refresh() {
    if (!m_loadError.isEmpty()) {
        const QString error = std::exchange(m_loadError, QString());
        vm::app::showMessage(
            this, QStringLiteral("Error querying camera for output settings (") + error + QLatin1Char(')'),
            vm::app::PromptButtons::Ok, vm::app::PromptIcon::Exclamation, QStringLiteral("Query Error"));
    }
    if (!isConnected() || wasRead(kMatch))
        m_matchEnable->setChecked(parameters().GetParameter(kMatch).Field(0) != QLatin1String("N"));
}

void BasicOutput::applyControlState(bool control) {
    m_sendLabel->setEnabled(control);
}

} // namespace vm::io
