#include "sim/readcycle.h"
#include "sim/scene.h"

#include <QHash>
#include <QtTest>

using namespace vm::sim;

namespace {

// The engine's input: the reader's parameters as the store would hand them over.
class Parameters : public ParameterSource {
public:
    QStringList fields(const QString& name) const override { return m_values.value(name); }
    void setFields(const QString& name, const QStringList& fields) override { m_values.insert(name, fields); }
    int firmwareLevel() const override { return m_level; }

    void set(const QString& name, const QString& line) {
        m_values.insert(name, line.split(QLatin1Char(' ')));
    }

    QHash<QString, QStringList> m_values;
    int m_level = 9;
};

// Runs cycles until one reads or the count is spent (photometry may need a few).
CycleOutput runUntilRead(ReadCycle& cycle, int cycles) {
    CycleOutput out;
    for (int i = 0; i < cycles; ++i) {
        out = cycle.run();
        if (out.symbolFound)
            break;
    }
    return out;
}

} // namespace

class TestSimEngine : public QObject {
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }

    void factoryReaderReadsDataMatrix();
};

void TestSimEngine::factoryReaderReadsDataMatrix() {
    Parameters parameters;
    ReadCycle cycle(parameters);
    cycle.scene().setSerial(42);
    const CycleOutput out = cycle.run();
    QCOMPARE(out.image.size(), QSize(Scene::kWidth, Scene::kHeight));
    QCOMPARE(out.image.format(), QImage::Format_Grayscale8);
    QVERIFY(out.symbolFound);
    QVERIFY(out.passed);
    QCOMPARE(out.text, QStringLiteral("LUMIVEX0042"));
    QCOMPARE(out.symbology, QStringLiteral("Data Matrix"));
    QCOMPARE(out.corners.size(), 4);
    // The corners frame the printed symbol around the scene centre.
    QPointF centre;
    for (const QPointF& p : out.corners)
        centre += p / 4.0;
    QVERIFY(qAbs(centre.x() - Scene::kWidth / 2.0) < 10);
    QVERIFY(qAbs(centre.y() - Scene::kHeight / 2.0) < 10);
    QVERIFY(out.decodeMs > 0);
    QCOMPARE(out.match, QString());
    // The running serial number advances with each part.
    QCOMPARE(cycle.run().text, QStringLiteral("LUMIVEX0043"));
}

QTEST_GUILESS_MAIN(TestSimEngine)
#include "tst_simengine.moc"
