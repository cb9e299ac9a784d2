// Runs every window's contract table against a simulated reader: what each control shows
// for the reader's values, what one change of it writes (that field of that parameter and
// nothing else), its enable rule under programming control, its firmware level, and the
// window's own texts. Every registered window has a table or says why it has none.
#include "app/windowregistry.h"
#include "contracts/contract.h"
#include "link/connection.h"
#include "sim/catalogue.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTextEdit>

using namespace vm;
using contracts::ControlContract;
using contracts::Kind;
using contracts::Stage;
using contracts::Value;
using contracts::WindowContract;

Q_DECLARE_METATYPE(WindowContract)
Q_DECLARE_METATYPE(ControlContract)

namespace {

// Registered windows whose behaviour other test areas pin, with where.
const QHash<QString, QString> kCheckedElsewhere = {
    {QStringLiteral("frmAbout"),
     QStringLiteral("tests/about: shows the program's version, changes no reader")},
    {QStringLiteral("frmLog"), QStringLiteral("tests/about: shows the program's log, changes no reader")},
    {QStringLiteral("HistoryWindow"),
     QStringLiteral("tests/history: shows what the history file holds, reads and writes no reader")},
};

QString where(const WindowContract& w, const ControlContract& c, const QString& what) {
    return w.window + QLatin1Char('.') + c.name + QStringLiteral(": ") + what;
}

// The lines of a listing that changed, keyed by their parameter name.
QStringList changedLines(const QStringList& before, const QStringList& after) {
    const QSet<QString> old(before.begin(), before.end());
    QStringList out;
    for (const QString& line : after)
        if (!old.contains(line))
            out << line;
    return out;
}

bool isLineOf(const QString& line, const QString& parameter) {
    return line.startsWith(parameter + QLatin1Char(' '));
}

// The input controls of a window that an operator can change, by object name.
QStringList inputControls(QWidget* window) {
    QStringList names;
    const auto all = window->findChildren<QWidget*>();
    for (QWidget* w : all) {
        // Parts of a compound control (a spin box's text, an editable list's text) are that
        // control; scroll bars and Qt's own parts are not the window's.
        if (qobject_cast<QAbstractSpinBox*>(w->parentWidget()) ||
            qobject_cast<QComboBox*>(w->parentWidget()) || qobject_cast<QScrollBar*>(w) ||
            w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        const bool input = qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w) ||
                           qobject_cast<QComboBox*>(w) || qobject_cast<QLineEdit*>(w) ||
                           qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QAbstractSlider*>(w) ||
                           qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QTextEdit*>(w) ||
                           qobject_cast<QTableWidget*>(w);
        if (input)
            names << (w->objectName().isEmpty()
                          ? QStringLiteral("(unnamed %1)").arg(w->metaObject()->className())
                          : w->objectName());
    }
    return names;
}

} // namespace

class TestContracts : public QObject {
    Q_OBJECT

    Stage m_stage;

    void openWith(const WindowContract& w, const ControlContract& c, const Value& v) {
        for (const QString& command : c.needs)
            m_stage.send(command);
        m_stage.setField(c.parameter, c.field, v.word);
        QVERIFY2(m_stage.open(w), qPrintable(w.window));
    }

private slots:
    void initTestCase() { qputenv("VELMARROW_STATION", "TEST-PC"); }
    void init() { m_stage.begin(); }
    void cleanup() {
        m_stage.close();
        m_stage.end();
    }

    // Every window the program registers has a table here, or its behaviour is pinned in
    // the area named beside it.
    void everyWindowHasATable() {
        if (qEnvironmentVariableIsSet("VELMARROW_CONTRACTS"))
            QSKIP("only some tables run");
        QSet<QString> tabled;
        for (const WindowContract& w : contracts::allContracts())
            tabled.insert(w.window);
        QStringList missing;
        for (const app::WindowEntry& e : app::windows().windowEntries())
            if (!tabled.contains(e.name) && !kCheckedElsewhere.contains(e.name))
                missing << e.name;
        QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("no contract table: ") + missing.join(", ")));
    }

    // Every input control of a window is a row of its table or is named as showing no
    // reader field; the count of each table is printed.
    void everyControlIsCovered_data() {
        QTest::addColumn<WindowContract>("contract");
        for (const WindowContract& w : contracts::allContracts())
            QTest::newRow(qPrintable(w.window)) << w;
    }
    void everyControlIsCovered() {
        if (!QTest::currentDataTag())
            QSKIP("no table has rows for this");
        QFETCH(WindowContract, contract);
        m_stage.start(contract.version);
        for (const QString& command : contract.setup)
            m_stage.send(command);
        QWidget* window = m_stage.open(contract);
        QVERIFY(window);
        QSet<QString> declared(contract.notFields.begin(), contract.notFields.end());
        for (const ControlContract& c : contract.controls) {
            declared.insert(c.name);
            if (c.kind == Kind::Radios)
                for (const Value& v : c.values)
                    declared.insert(v.shown);
        }
        const QStringList present = inputControls(window);
        QStringList uncovered;
        for (const QString& name : present)
            if (!declared.contains(name))
                uncovered << name;
        qInfo("%s: %lld rows cover %lld of %lld input controls", qPrintable(contract.window),
              static_cast<long long>(contract.controls.size()),
              static_cast<long long>(present.size() - uncovered.size()),
              static_cast<long long>(present.size()));
        QVERIFY2(uncovered.isEmpty(),
                 qPrintable(QStringLiteral("not in the table: ") + uncovered.join(", ")));
    }

    // Each value of the reader shows as the table says; a change writes that field of that
    // parameter and nothing else; the control follows programming control.
    void controls_data() {
        QTest::addColumn<WindowContract>("contract");
        QTest::addColumn<ControlContract>("row");
        QSet<QString> tags;
        for (const WindowContract& w : contracts::allContracts())
            for (const ControlContract& c : w.controls) {
                QString tag =
                    w.window + QLatin1Char('.') + c.name + QLatin1Char('.') + QString::number(c.field);
                // Rows of one control and field (a grid's rows) are told apart by parameter.
                if (tags.contains(tag))
                    tag += QLatin1Char('.') + c.parameter;
                tags.insert(tag);
                QTest::newRow(qPrintable(tag)) << w << c;
            }
    }
    void controls() {
        if (!QTest::currentDataTag())
            QSKIP("no table has rows for this");
        QFETCH(WindowContract, contract);
        QFETCH(ControlContract, row);
        QVERIFY2(row.values.size() >= 2, "a row needs two values");
        if (!row.version.isEmpty())
            contract.version = row.version;
        m_stage.start(contract.version, true, row.lightChannels);
        for (const QString& command : contract.setup)
            m_stage.send(command);

        // What the control shows for each of the reader's values.
        for (const Value& v : row.values) {
            openWith(contract, row, v);
            QCOMPARE_EQ(contracts::readControl(m_stage, row), v.shown);
            m_stage.close();
        }

        // One change writes exactly that field.
        openWith(contract, row, row.values.first());
        const QStringList before = m_stage.listing();
        const QStringList beforeFields = m_stage.fields(row.parameter);
        for (int i = 1; i < row.values.size(); ++i) {
            const Value& v = row.values[i];
            if (i > 1 && !contract.okButton.isEmpty())
                QVERIFY(m_stage.open(contract));
            testing::Received received(m_stage.reader());
            QSignalSpy broadcasts(&m_stage.station(), &link::Connection::OnBroadcastMessage);
            if (row.boxes)
                row.boxes(m_stage, v);
            contracts::setControl(m_stage, row, v);
            if (QTest::currentTestFailed())
                return;
            if (!contract.okButton.isEmpty())
                m_stage.press(contract.okButton);
            else if (!contract.immediate)
                m_stage.apply();
            QTRY_COMPARE_WITH_TIMEOUT(m_stage.fields(row.parameter).value(row.field), v.word, 2000);
            QStringList writes;
            for (const QString& line : received.lines())
                if (line != row.parameter && isLineOf(line, row.parameter))
                    writes << line;
            QVERIFY2(writes.size() == 1,
                     qPrintable(where(contract, row, QStringLiteral("writes ") + writes.join(" | "))));
            QStringList expected = i == 1 ? beforeFields : m_stage.fields(row.parameter);
            expected[row.field] = v.word;
            // Fields the Part says change with this one take the reader's new values.
            const QStringList after = m_stage.fields(row.parameter);
            for (const QString& also : row.alsoWrites)
                if (also.section(QLatin1Char(':'), 0, 0) == row.parameter) {
                    const int f = also.section(QLatin1Char(':'), 1).toInt();
                    expected[f] = after.value(f);
                }
            QCOMPARE_EQ(after, expected);
            QStringList sentWords;
            QTRY_VERIFY_WITH_TIMEOUT(broadcasts.size() >= contract.broadcasts.size(), 1000);
            for (const auto& b : broadcasts)
                sentWords << b.at(1).toString();
            QCOMPARE_EQ(sentWords, contract.broadcasts);
        }
        QStringList others;
        for (const QString& line : changedLines(before, m_stage.listing())) {
            bool allowed = isLineOf(line, row.parameter);
            for (const QString& also : row.alsoWrites)
                allowed = allowed || isLineOf(line, also.section(QLatin1Char(':'), 0, 0));
            if (!allowed)
                others << line;
        }
        QVERIFY2(others.isEmpty(),
                 qPrintable(where(contract, row, QStringLiteral("also changed ") + others.join(" | "))));

        // The control follows programming control.
        if (!contract.okButton.isEmpty())
            QVERIFY(m_stage.open(contract));
        if (contract.controlAtOpening) {
            m_stage.releaseControl();
            QVERIFY(m_stage.open(contract));
            QWidget* without = m_stage.control(row.name);
            QVERIFY2(without, qPrintable(where(contract, row, QStringLiteral("missing"))));
            QVERIFY2(
                without->isEnabled() != row.needsControl,
                qPrintable(where(contract, row, QStringLiteral("wrong state when opened without control"))));
            m_stage.regainControl();
            QVERIFY(m_stage.open(contract));
            QWidget* with = m_stage.control(row.name);
            QVERIFY2(with && with->isEnabled(),
                     qPrintable(where(contract, row, QStringLiteral("disabled when opened with control"))));
            return;
        }
        // A group's options may follow control one by one while their frame stays enabled.
        const QStringList followers = row.followers.isEmpty() ? QStringList{row.name} : row.followers;
        for (const QString& name : followers) {
            QWidget* control = m_stage.control(name);
            QVERIFY2(control, qPrintable(where(contract, row, name + QStringLiteral(" missing"))));
            QVERIFY2(control->isEnabled(),
                     qPrintable(where(contract, row, name + QStringLiteral(" disabled with control"))));
        }
        m_stage.releaseControl();
        for (const QString& name : followers) {
            QWidget* control = m_stage.control(name);
            if (row.needsControl)
                QTRY_VERIFY2(
                    !control->isEnabled(),
                    qPrintable(where(contract, row, name + QStringLiteral(" enabled without control"))));
            else
                QVERIFY2(control->isEnabled(),
                         qPrintable(where(contract, row, name + QStringLiteral(" disabled"))));
        }
        m_stage.regainControl();
        for (const QString& name : followers)
            QTRY_VERIFY2(
                m_stage.control(name)->isEnabled(),
                qPrintable(where(contract, row, name + QStringLiteral(" still disabled with control back"))));
    }

    // Below a control's firmware level it is absent, hidden or disabled as its Part says.
    void belowLevel_data() {
        QTest::addColumn<WindowContract>("contract");
        for (const WindowContract& w : contracts::allContracts())
            if (!w.lowVersion.isEmpty())
                QTest::newRow(qPrintable(w.window)) << w;
    }
    void belowLevel() {
        if (!QTest::currentDataTag())
            QSKIP("no table has rows for this");
        QFETCH(WindowContract, contract);
        const int level = contracts::levelOf(contract.lowVersion);
        m_stage.start(contract.lowVersion);
        QWidget* window = m_stage.open(contract);
        QVERIFY(window);
        int checked = 0;
        for (const ControlContract& c : contract.controls) {
            if (c.fromLevel <= level)
                continue;
            ++checked;
            QWidget* control = m_stage.control(c.name);
            switch (c.below) {
            case contracts::Below::Absent:
                QVERIFY2(!control || !control->isVisibleTo(window),
                         qPrintable(where(contract, c, QStringLiteral("present below its level"))));
                break;
            case contracts::Below::Hidden:
                QVERIFY2(control && !control->isVisibleTo(window),
                         qPrintable(where(contract, c, QStringLiteral("shown below its level"))));
                break;
            case contracts::Below::Disabled:
                QVERIFY2(control && !control->isEnabled(),
                         qPrintable(where(contract, c, QStringLiteral("enabled below its level"))));
                break;
            case contracts::Below::Custom:
                QVERIFY2(c.belowCheck, qPrintable(where(contract, c, QStringLiteral("no belowCheck"))));
                c.belowCheck(m_stage);
                if (QTest::currentTestFailed())
                    return;
                break;
            case contracts::Below::Unoffered: {
                auto* list = qobject_cast<QComboBox*>(control);
                QVERIFY2(list, qPrintable(where(contract, c, QStringLiteral("no list below its level"))));
                const QStringList offered = testing::entries(list);
                for (const Value& v : c.values) {
                    const QString what = v.shown + QStringLiteral(" offered below its level");
                    QVERIFY2(v.shown == c.values.first().shown || !offered.contains(v.shown),
                             qPrintable(where(contract, c, what)));
                }
                break;
            }
            }
        }
        QVERIFY2(checked > 0, "the low version is not below any control's level");
    }

    // At exactly its firmware level a control is there and can be worked, with every value of
    // a list offered: a level rule one off shows here, where the rows run on the newest reader.
    void atItsLevel_data() {
        QTest::addColumn<WindowContract>("contract");
        QTest::addColumn<ControlContract>("row");
        QSet<QString> tags;
        for (const WindowContract& w : contracts::allContracts())
            for (const ControlContract& c : w.controls) {
                const QString tag = w.window + QLatin1Char('.') + c.name + QLatin1Char('.') + c.parameter +
                                    QLatin1Char('.') + QString::number(c.field) + QLatin1Char('@') +
                                    QString::number(c.fromLevel);
                // A row that needs the reader put in a state first is written in the newest
                // reader's words, which older readers may spell otherwise.
                const bool custom = c.below == contracts::Below::Custom;
                if (c.fromLevel <= 0 || (custom && !c.atLevelCheck) || !c.needs.isEmpty() ||
                    tags.contains(tag))
                    continue;
                tags.insert(tag);
                QTest::newRow(qPrintable(tag)) << w << c;
            }
    }
    void atItsLevel() {
        if (!QTest::currentDataTag())
            QSKIP("no table has rows for this");
        QFETCH(WindowContract, contract);
        QFETCH(ControlContract, row);
        m_stage.start(sim::softwareVersionForLevel(row.fromLevel), true, row.lightChannels);
        for (const QString& command : contract.setup)
            m_stage.send(command);
        QWidget* window = m_stage.open(contract);
        QVERIFY(window);
        if (row.below == contracts::Below::Custom) {
            row.atLevelCheck(m_stage);
            return;
        }
        QWidget* control = m_stage.control(row.name);
        QVERIFY2(control, qPrintable(where(contract, row, QStringLiteral("missing at its level"))));
        QVERIFY2(control->isEnabled(),
                 qPrintable(where(contract, row, QStringLiteral("disabled at its level"))));
        if (row.below == contracts::Below::Hidden || row.below == contracts::Below::Absent)
            QVERIFY2(control->isVisibleTo(window),
                     qPrintable(where(contract, row, QStringLiteral("hidden at its level"))));
        if (row.below == contracts::Below::Unoffered) {
            const QStringList offered = testing::entries(qobject_cast<QComboBox*>(control));
            for (const Value& v : row.values)
                QVERIFY2(
                    offered.contains(v.shown),
                    qPrintable(where(contract, row, v.shown + QStringLiteral(" not offered at its level"))));
        }
    }

    // The window's own texts and derived behaviour.
    void checks_data() {
        QTest::addColumn<WindowContract>("contract");
        QTest::addColumn<int>("part");
        for (const WindowContract& w : contracts::allContracts())
            for (int i = 0; i < w.checks.size(); ++i)
                QTest::addRow("%s.%d", qPrintable(w.window), i) << w << i;
    }
    void checks() {
        if (!QTest::currentDataTag())
            QSKIP("no table has rows for this");
        QFETCH(WindowContract, contract);
        QFETCH(int, part);
        contract.checks.at(part)(m_stage);
    }
};

QTEST_MAIN(TestContracts)
#include "tst_contracts.moc"
