#include "contracts/contract.h"

#include "app/programstate.h"
#include "app/windowregistry.h"
#include "settings/settingswindow.h"
#include "verification/calibrationstate.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>

namespace vm::contracts {

int levelOf(const QString& version) {
    const QStringList p = version.split(QLatin1Char('.'));
    if (p.size() < 3)
        return 0;
    const int a = p[0].toInt(), b = p[1].toInt(), c = p[2].toInt();
    if (a == 0)
        return 99;
    if (a == 1)
        return b >= 1 && b <= 3 ? 3 : (b == 0 && c == 1 ? 2 : 0);
    if (a == 2) {
        if (b == 0)
            return c == 1 ? 5 : 4;
        if (b >= 1 && b <= 4)
            return b + 5;
        return 4;
    }
    return a == 3 ? 10 : 0;
}

void Stage::begin() {
    setUpBench();
    verification::calibrationState() = {};
    app::setCalibrationText(QString());
    app::setVerificationEnabled(false);
    app::setControlPassword(QString());
}

QWidget* Stage::open(const QString& window) {
    close();
    QWidget* opened = app::windows().open(window, nullptr);
    if (!opened)
        qWarning("window %s did not open", qPrintable(window));
    return adopt(opened);
}

QWidget* Stage::open(const WindowContract& contract) {
    if (!contract.opener)
        return open(contract.window);
    close();
    return adopt(contract.opener(*this));
}

QWidget* Stage::adopt(QWidget* window) {
    close();
    m_window = window;
    if (!m_window)
        return nullptr;
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    if (auto* s = qobject_cast<settings::SettingsWindow*>(m_window)) {
        s->ensureLoaded();
        if (!QTest::qWaitFor([s] { return s->isLoaded(); }, 5000))
            qWarning("window %s did not load", qPrintable(m_window->objectName()));
    }
    QCoreApplication::processEvents();
    return m_window;
}

void Stage::close() {
    if (!m_window)
        return;
    QWidget* w = m_window;
    m_window = nullptr;
    w->close();
    delete w;
}

QWidget* Stage::control(const QString& name) const {
    return m_window ? m_window->findChild<QWidget*>(name) : nullptr;
}

QStringList Stage::fields(const QString& parameter) {
    if (!m_reader) {
        QTest::qFail("no reader was started", __FILE__, __LINE__);
        return {};
    }
    return m_reader->parameters().fields(parameter);
}

void Stage::send(const QString& command) {
    const bool had = m_conn->HasControl();
    if (!had)
        QVERIFY(testing::takeControl(*m_conn));
    const auto reply = m_conn->SendCommand(command);
    QVERIFY2(reply.ok, qPrintable(QStringLiteral("the reader refused ") + command));
}

void Stage::setField(const QString& parameter, int field, const QString& word) {
    QStringList f = fields(parameter);
    QVERIFY2(field < f.size(),
             qPrintable(parameter + QStringLiteral(" has no field ") + QString::number(field)));
    f[field] = word;
    send(parameter + QLatin1Char(' ') + f.join(QLatin1Char(' ')));
}

QStringList Stage::listing() {
    return m_reader->parameters().configurationListing();
}

void Stage::releaseControl() {
    QVERIFY(m_conn->SendCommand(QStringLiteral("RELEASE")).ok);
}

void Stage::regainControl() {
    QVERIFY(testing::takeControl(*m_conn));
}

void Stage::refocus() {
    const QString address = m_reader->address().toString();
    testing::focusReader(*m_coordinator, QString());
    testing::focusReader(*m_coordinator, address);
    QVERIFY2(m_conn->Connected(), "the reader did not connect again");
    QVERIFY(testing::takeControl(*m_conn));
}

bool Stage::isQuery(const QString& line) {
    const QString name = line.trimmed();
    return !name.isEmpty() && !m_reader->parameters().fields(name).isEmpty();
}

void Stage::apply() {
    auto* s = qobject_cast<settings::SettingsWindow*>(m_window);
    QVERIFY2(s && s->applyButton(), "the window has no Apply button");
    QVERIFY2(s->applyButton()->isEnabled(), "Apply is not enabled after a change");
    s->applyButton()->click();
}

void Stage::press(const QString& button) {
    auto* b = m_window ? m_window->findChild<QAbstractButton*>(button) : nullptr;
    QVERIFY2(b, qPrintable(QStringLiteral("no button ") + button));
    QVERIFY2(b->isEnabled(), qPrintable(button + QStringLiteral(" is not enabled")));
    b->click();
}

class ShownBoxes::Service : public app::PromptService {
public:
    struct Declared {
        app::ScriptedPrompts::Prompt prompt;
        app::PromptAnswer answer;
    };
    QList<Declared> declared;
    QList<app::ScriptedPrompts::Prompt> shown;

    app::PromptAnswer message(QWidget*, const QString& title, const QString& text, app::PromptIcon icon,
                              app::PromptButtons buttons) override {
        if (!declared.isEmpty()) {
            const Declared& next = declared.constFirst();
            if (next.prompt.title == title && next.prompt.text == text && next.prompt.icon == icon &&
                next.prompt.buttons == buttons)
                return declared.takeFirst().answer;
        }
        shown.append({app::ScriptedPrompts::Kind::Message, title, text, icon, buttons, {}, false});
        return buttons == app::PromptButtons::YesNo ? app::PromptAnswer::No
               : buttons == app::PromptButtons::Ok  ? app::PromptAnswer::Ok
                                                    : app::PromptAnswer::Cancel;
    }
    std::optional<QString> input(QWidget*, const QString& prompt, const QString& title,
                                 const QString& defaultText, bool masked) override {
        shown.append({app::ScriptedPrompts::Kind::Input, title, prompt, app::PromptIcon::None,
                      app::PromptButtons::OkCancel, defaultText, masked});
        return std::nullopt;
    }
};

ShownBoxes::ShownBoxes() {
    auto service = std::make_unique<Service>();
    m_service = service.get();
    m_previous = app::installPrompts(std::move(service));
}

ShownBoxes::~ShownBoxes() {
    app::installPrompts(std::move(m_previous));
}

void ShownBoxes::answer(const QString& title, const QString& text, app::PromptIcon icon,
                        app::PromptButtons buttons, app::PromptAnswer answer) {
    m_service->declared.append(
        {{app::ScriptedPrompts::Kind::Message, title, text, icon, buttons, {}, false}, answer});
}

const QList<app::ScriptedPrompts::Prompt>& ShownBoxes::shown() const {
    return m_service->shown;
}

qsizetype ShownBoxes::unanswered() const {
    return m_service->declared.size();
}

QString ShownBoxes::describe() const {
    QStringList out;
    for (const auto& p : m_service->shown)
        out << app::ScriptedPrompts::describe(p);
    return out.isEmpty() ? QStringLiteral("no box") : out.join(QStringLiteral("; "));
}

void ShownBoxes::clear() {
    m_service->shown.clear();
}

namespace {
QRegularExpression g_tolerated;
QtMessageHandler g_previousHandler = nullptr;

void tolerating(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && g_tolerated.match(message).hasMatch())
        return;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}
} // namespace

ToleratedWarnings::ToleratedWarnings(const QRegularExpression& pattern) {
    g_tolerated = pattern;
    g_previousHandler = qInstallMessageHandler(&tolerating);
}

ToleratedWarnings::~ToleratedWarnings() {
    qInstallMessageHandler(g_previousHandler);
    g_previousHandler = nullptr;
    g_tolerated = QRegularExpression();
}

ControlContract fieldRow(const QString& name, Kind kind, const QString& parameter, int field,
                         QList<Value> values) {
    ControlContract c;
    c.name = name;
    c.kind = kind;
    c.parameter = parameter;
    c.field = field;
    c.values = std::move(values);
    return c;
}

void okRefused(Stage& stage, const QString& title, const QString& text, app::PromptIcon icon) {
    testing::Received received(stage.reader());
    {
        testing::ExpectPrompts boxes;
        boxes->expectMessage(title, text, icon, app::PromptButtons::Ok, app::PromptAnswer::Ok);
        stage.press(QStringLiteral("btnOK"));
    }
    QVERIFY2(stage.window()->isVisible(), qPrintable(text));
    QCOMPARE(received.lines(), QStringList());
}

void setControl(Stage& stage, const ControlContract& row, const Value& value) {
    if (row.kind == Kind::Custom) {
        row.set(stage, value);
        return;
    }
    QWidget* w = stage.control(row.name);
    QVERIFY2(w, qPrintable(QStringLiteral("no control ") + row.name));
    switch (row.kind) {
    case Kind::Check: {
        auto* box = qobject_cast<QAbstractButton*>(w);
        QVERIFY(box);
        if (box->isChecked() != (value.shown == QLatin1String("on")))
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->height() / 2, box->height() / 2));
        break;
    }
    case Kind::List: {
        auto* list = qobject_cast<QComboBox*>(w);
        QVERIFY(list);
        testing::choose(list, value.shown);
        break;
    }
    case Kind::Box: {
        auto* box = qobject_cast<QLineEdit*>(w);
        QVERIFY(box);
        testing::typeInto(box, value.shown);
        break;
    }
    case Kind::Radios: {
        auto* option = stage.window()->findChild<QAbstractButton*>(value.shown);
        QVERIFY2(option, qPrintable(QStringLiteral("no option ") + value.shown));
        QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(option->height() / 2, option->height() / 2));
        break;
    }
    case Kind::Spin:
        if (auto* spin = qobject_cast<QSpinBox*>(w)) {
            spin->setFocus();
            spin->setValue(value.shown.toInt());
            emit spin->editingFinished();
        } else if (auto* slider = qobject_cast<QAbstractSlider*>(w)) {
            slider->setFocus();
            slider->setValue(value.shown.toInt());
            emit slider->sliderReleased();
        } else {
            QFAIL("not a spin box or slider");
        }
        break;
    case Kind::Custom:
        break;
    }
}

QString readControl(Stage& stage, const ControlContract& row) {
    if (row.kind == Kind::Custom)
        return row.read(stage);
    QWidget* w = stage.control(row.name);
    if (!w)
        return QStringLiteral("(no control %1)").arg(row.name);
    switch (row.kind) {
    case Kind::Check:
        return qobject_cast<QAbstractButton*>(w)->isChecked() ? QStringLiteral("on") : QStringLiteral("off");
    case Kind::List:
        return qobject_cast<QComboBox*>(w)->currentText();
    case Kind::Box:
        return qobject_cast<QLineEdit*>(w)->text();
    case Kind::Radios: {
        // The control names the group; its checked option answers.
        for (auto* option : w->findChildren<QRadioButton*>())
            if (option->isChecked())
                return option->objectName();
        return QString();
    }
    case Kind::Spin:
        if (auto* spin = qobject_cast<QSpinBox*>(w))
            return QString::number(spin->value());
        if (auto* slider = qobject_cast<QAbstractSlider*>(w))
            return QString::number(slider->value());
        return QString();
    case Kind::Custom:
        break;
    }
    return QString();
}

QList<WindowContract> allContracts() {
    const QList<WindowContract> all = {
        applicationContract(),
        photometryContract(),
        symbologyContract(),
        learnContract(),
        tuneContract(),
        manufacturingContract(),
        outputContract(),
        basicOutputContract(),
        matchContract(),
        beepContract(),
        ioSettingsContract(),
        ioAssignContract(),
        commSetupContract(),
        partQueueContract(),
        pidCopyContract(),
        compareContract(),
        calibrateContract(),
        aimDpmContract(),
        verificationReportContract(),
        terminalContract(),
        reportContract(),
        chartContract(),
        filmstripContract(),
        networkOverviewContract(),
        histogramContract(),
    };
    // VELMARROW_CONTRACTS=BeepControl,frmMatch runs only those windows' tables.
    const QStringList only =
        qEnvironmentVariable("VELMARROW_CONTRACTS").split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (only.isEmpty())
        return all;
    QList<WindowContract> some;
    for (const WindowContract& w : all)
        if (only.contains(w.window))
            some << w;
    return some;
}

} // namespace vm::contracts
