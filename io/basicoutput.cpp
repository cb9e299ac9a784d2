#include "io/basicoutput.h"

#include "app/programstate.h"
#include "app/prompts.h"
#include "app/windowroutines.h"
#include "link/fields.h"
#include "link/parameterset.h"
#include "link/vocabulary.h"
#include "resources/strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
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

QString BasicOutput::shown(const QString& field) {
    if (field.size() >= 2 && field.startsWith(QLatin1Char('"')) && field.endsWith(QLatin1Char('"')))
        return field.mid(1, field.size() - 2);
    return QString(field).remove(QLatin1Char('"'));
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
        report->setMaxLength(128);
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
        m_enable << enable;
        m_report << report;
        m_keyword << keyword;
        m_headerCheck << header;
        m_trailerCheck << trailer;
        m_beeps << beeps;

        bindCheck(enable, parameter, 0, QStringLiteral("Y"), QStringLiteral("N"));
        bindCheck(header, parameter, 2, QStringLiteral("Y"), QStringLiteral("N"));
        bindCheck(trailer, parameter, 3, QStringLiteral("Y"), QStringLiteral("N"));
        QList<Choice> counts;
        for (int n = 0; n < 4; ++n)
            counts.append({beepTexts[n], QString::number(n)});
        bindChoice(beeps, parameter, 4, counts);
        // Every keystroke is the field's new text, as the operator sees it.
        connect(report, &QLineEdit::textChanged, this, [this, parameter](const QString& text) {
            if (updating())
                return;
            parameters().GetParameter(parameter).SetField(1, vm::link::quoteField(text));
            markModified();
        });
        connect(keyword, &QPushButton::clicked, this, [this, i] { showKeywords(i); });
    }
    grid->setColumnStretch(1, 1);
    layout->addWidget(events);

    auto* common = new QGridLayout;
    m_headerText = new QLineEdit(this);
    m_headerText->setObjectName(QStringLiteral("Header"));
    m_headerText->setMaxLength(128);
    m_trailerText = new QLineEdit(this);
    m_trailerText->setObjectName(QStringLiteral("Trailer"));
    m_trailerText->setMaxLength(128);
    common->addWidget(vm::settings::labelFor(m_headerText, vm::res::Str(20015), this), 0, 0);
    common->addWidget(m_headerText, 0, 1);
    common->addWidget(vm::settings::labelFor(m_trailerText, vm::res::Str(20016), this), 1, 0);
    common->addWidget(m_trailerText, 1, 1);
    for (auto [box, parameter] : {std::pair{m_headerText, "HEADER"}, std::pair{m_trailerText, "TRAILER"}}) {
        const QString name = QLatin1String(parameter);
        connect(box, &QLineEdit::textChanged, this, [this, name](const QString& text) {
            if (updating())
                return;
            parameters().GetParameter(name).SetField(0, vm::link::quoteField(text));
            markModified();
        });
    }
    m_outFormat = new QCheckBox(vm::res::Str(20017), this);
    m_outFormat->setObjectName(QStringLiteral("OutFormat"));
    bindCheck(m_outFormat, QStringLiteral("OUTPUT FORMAT"), 0, QStringLiteral("HEX"), QStringLiteral("RAW"));
    m_matchEnable = new QCheckBox(vm::res::Str(20018), this);
    m_matchEnable->setObjectName(QStringLiteral("MatchEnable"));
    m_match = new QLineEdit(this);
    m_match->setObjectName(QStringLiteral("Match"));
    m_match->setAccessibleName(vm::res::Str(20018));
    m_match->setMaxLength(128);
    connect(m_matchEnable, &QCheckBox::clicked, this, [this](bool checked) {
        if (updating())
            return;
        parameters().GetParameter(kMatch).SetField(0, checked ? QStringLiteral("T") : QStringLiteral("N"));
        refreshDisplay();
        markModified();
    });
    connect(m_match, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (updating())
            return;
        parameters().GetParameter(kMatch).SetField(1, vm::link::quoteField(text));
        markModified();
    });
    common->addWidget(m_outFormat, 2, 0, 1, 2);
    common->addWidget(m_matchEnable, 3, 0);
    common->addWidget(m_match, 3, 1);
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
            // Appended at the end, whatever the caret.
            QLineEdit* target = m_report.value(m_keywordTarget);
            if (target)
                target->setText(target->text() + text);
        });
    }
}

void BasicOutput::showKeywords(int row) {
    m_keywordTarget = row;
    QPushButton* button = m_keyword[row];
    m_menuKeyword->popup(button->mapToGlobal(QPoint(button->width(), 0)));
}

void BasicOutput::loadParameters() {
    m_loadError.clear();
    if (vm::app::firmwareLevel() >= vm::link::level::FormatEditor) {
        handOver();
        return;
    }
    if (!isConnected())
        return;
    for (const char* name : {"OKDEC", "DECFL", "LOCFL", "RTE", "MATCHEX", "OKMATCH", "MATCHFL",
                             "OUTPUT FORMAT", "HEADER", "TRAILER"}) {
        QString error;
        if (!load(QLatin1String(name), &error)) {
            m_loadError = error;
            return;
        }
    }
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
        return; // the controls keep what they showed
    }
    m_headerText->setText(shown(parameters().GetParameter(QStringLiteral("HEADER")).Field(0)));
    m_trailerText->setText(shown(parameters().GetParameter(QStringLiteral("TRAILER")).Field(0)));
    for (int i = 0; i < 6; ++i)
        m_report[i]->setText(shown(parameters().GetParameter(eventParameters()[i]).Field(1)));
    const vm::link::Parameter& match = parameters().GetParameter(kMatch);
    m_match->setText(shown(match.Field(1)));
    m_matchEnable->setChecked(match.Field(0) != QLatin1String("N"));
}

void BasicOutput::applyControlState(bool control) {
    for (QWidget* w : {static_cast<QWidget*>(m_outFormat), static_cast<QWidget*>(m_matchEnable),
                       static_cast<QWidget*>(m_match), static_cast<QWidget*>(m_sendLabel),
                       static_cast<QWidget*>(m_headerText), static_cast<QWidget*>(m_trailerText)})
        w->setEnabled(control);
    // The header and trailer follow control too: without it nothing could be sent anyway.
    for (int i = 0; i < 6; ++i)
        for (QWidget* w : {static_cast<QWidget*>(m_enable[i]), static_cast<QWidget*>(m_report[i]),
                           static_cast<QWidget*>(m_keyword[i]), static_cast<QWidget*>(m_headerCheck[i]),
                           static_cast<QWidget*>(m_trailerCheck[i]), static_cast<QWidget*>(m_beeps[i])})
            w->setEnabled(control);
}

} // namespace vm::io
