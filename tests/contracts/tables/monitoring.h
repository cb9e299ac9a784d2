#pragma once

// What the monitoring windows' tables share: records from the reader, one read cycle at a
// time, as a connection of the test's own receives them.
#include "contracts/contract.h"
#include "link/connection.h"
#include "link/record.h"

#include <QSignalSpy>
#include <QTest>

namespace vm::contracts::monitoring {

// The reader's records as they reach the program, taken by a connection of the test's own.
class Records {
public:
    Records()
        : m_spy(&m_conn, &link::Connection::OnNewRecord) {}

    // Runs one read cycle on the reader and waits for its record; false when none came.
    bool cycle(Stage& stage, link::Record* out = nullptr) {
        const qint64 before = stage.reader().cycles().lastNumber();
        stage.reader().cycles().runOnce();
        const bool came = QTest::qWaitFor([&] { return !m_spy.isEmpty() && last().Number() > before; }, 5000);
        if (came && out)
            *out = last();
        return came;
    }
    link::Record last() const { return m_spy.constLast().at(0).value<link::Record>(); }
    qsizetype count() const { return m_spy.size(); }
    void clear() { m_spy.clear(); }
    link::Connection& connection() { return m_conn; }

private:
    link::ImageConnection m_conn;
    QSignalSpy m_spy;
};

// Starts a reader that reads only when a test runs a cycle: a fixed text with no running
// number, so that what a window shows can be told from what the reader printed.
inline void startQuietReader(Stage& stage, const QString& text, bool control = true,
                             const QString& version = QStringLiteral("3.0.2.1")) {
    stage.start(version, control);
    const bool had = stage.station().HasControl();
    stage.send(QStringLiteral("TRIG T"));
    if (!had)
        stage.releaseControl();
    QString error;
    QVERIFY2(stage.reader().setScene(QStringLiteral("serialdigits"), QStringLiteral("0"), &error),
             qPrintable(error));
    QVERIFY2(stage.reader().setScene(QStringLiteral("text"), text, &error), qPrintable(error));
}

// The next cycles read (contrast 90) or fail to read (nothing printed).
inline void printSymbol(Stage& stage, bool printed) {
    QString error;
    QVERIFY2(stage.reader().setScene(QStringLiteral("contrast"),
                                     printed ? QStringLiteral("90") : QStringLiteral("0"), &error),
             qPrintable(error));
}

} // namespace vm::contracts::monitoring
