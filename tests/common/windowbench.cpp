#include "common/windowbench.h"

#include "app/programstate.h"
#include "app/settingsstore.h"
#include "app/windowregistry.h"

#include <QCoreApplication>
#include <QWidget>

namespace vm::testing {

void choose(QComboBox* list, const QString& text) {
    const int index = list->findText(text);
    QVERIFY2(index >= 0, qPrintable(list->objectName() + ": no entry " + text));
    list->setFocus();
    list->setCurrentIndex(index);
    emit list->activated(index);
}

void typeAndLeave(QLineEdit* box, const QString& text) {
    box->setText(text);
    emit box->textEdited(text);
    emit box->editingFinished();
}

void typeInto(QLineEdit* box, const QString& text) {
    box->setFocus();
    QTRY_VERIFY(box->hasFocus());
    box->selectAll();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Tab);
}

void retype(QLineEdit* box, const QString& text) {
    box->selectAll();
    box->del();
    QTest::keyClicks(box, text);
}

void clickCell(QTableWidget* grid, int row, int column) {
    const QRect r = grid->visualItemRect(grid->item(row, column));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, r.center());
}

QStringList entries(const QComboBox* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->itemText(i);
    return out;
}

Received::Received(sim::Reader& reader)
    : m_spy(&reader, &sim::Reader::commandReceived) {}

QStringList Received::lines() const {
    static const QStringList link = {QStringLiteral("STATION"),    QStringLiteral("VERSION"),
                                     QStringLiteral("CONTROLLER"), QStringLiteral("NAME"),
                                     QStringLiteral("CONTROL"),    QStringLiteral("RELEASE")};
    QStringList out;
    for (const auto& args : m_spy) {
        const QString line = args.at(0).toString();
        if (!link.contains(line.section(' ', 0, 0)))
            out << line;
    }
    return out;
}

QStringList Received::starting(const QString& keyword) const {
    QStringList out;
    for (const QString& line : lines())
        if (line.section(' ', 0, 0) == keyword)
            out << line;
    return out;
}

void WindowBench::setUpBench() {
    startWindowTest(m_dir.path());
    app::windows().clear();
    app::registerWindows(app::windows());
    m_unexpectedBoxes = std::make_unique<ExpectPrompts>();
    m_dialogs = std::make_unique<ExpectDialogs>();
    m_coordinator = std::make_unique<link::Coordinator>();
    m_conn = std::make_unique<link::SettingsConnection>();
}

void WindowBench::tearDownBench() {
    m_unexpectedBoxes.reset();
    m_dialogs.reset();
    for (QWidget* w : app::windows().loadedWindows())
        w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (m_coordinator)
        m_coordinator->Focus(QString());
    app::setFirmwareLevel(0);
    m_conn.reset();
    m_coordinator.reset();
    m_reader.reset();
    app::windows().clear();
    app::installSettings(nullptr);
}

void WindowBench::startReader(const sim::ReaderConfig& config, bool control) {
    m_reader = testing::startReader(config);
    QVERIFY(m_reader);
    focusReader(*m_coordinator, m_reader->address().toString());
    QVERIFY(m_conn->Connected());
    if (control)
        QVERIFY(takeControl(*m_conn));
}

void WindowBench::startReader(const QString& name, const QString& version, bool control) {
    startReader(readerConfig(name, version), control);
}

void WindowBench::readerHolds(const QString& command) {
    QVERIFY2(m_conn->SendCommand(command).ok, qPrintable(command));
}

QString WindowBench::readerValue(const QString& name) {
    return m_conn->Query(name);
}

} // namespace vm::testing
