// What the reader's formatted output does that a transcript cannot show: two triggers sent in
// one write (an overrun), a picture's bytes as BMP, TIFF and raw image fields, and unique item
// identifiers read from texts with control characters in them. Everything else a controller
// on an output port receives is in transcripts/output.txt, older-readers.txt and serial.txt.

#include "clients.h"
#include "sim/catalogue.h"
#include "sim/reader.h"

#include <QImage>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <memory>

using namespace vm::sim;
using vm::testing::CommandClient;
using vm::testing::DataClient;

namespace {

constexpr int kWait = 5000;

// A controller listening on one output port.
class Listener {
public:
    bool open(const Reader& r, int port) {
        m_socket.connectToHost(r.address(), r.outputPort(port));
        return m_socket.waitForConnected(kWait);
    }
    // The bytes up to and including the next occurrence of `end`.
    QByteArray until(const QByteArray& end) {
        QByteArray out;
        // On a time-out the caller sees what came, and its comparison fails there.
        static_cast<void>(QTest::qWaitFor(
            [&] {
                m_buffer += m_socket.readAll();
                const qsizetype at = m_buffer.indexOf(end);
                if (at < 0)
                    return false;
                out = m_buffer.left(at + end.size());
                m_buffer.remove(0, at + end.size());
                return true;
            },
            kWait));
        return out;
    }
    // Exactly n bytes.
    QByteArray take(qsizetype n) {
        // On a time-out the caller sees what came, and its comparison fails there.
        static_cast<void>(QTest::qWaitFor(
            [&] {
                m_buffer += m_socket.readAll();
                return m_buffer.size() >= n;
            },
            kWait));
        const QByteArray out = m_buffer.left(n);
        m_buffer.remove(0, out.size());
        return out;
    }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

} // namespace

class TestOutput : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_state;
    std::unique_ptr<Reader> m_reader;
    std::unique_ptr<CommandClient> m_commands;

    // A triggered reader of this level, this test in control of it.
    bool start(int level) {
        ReaderConfig c;
        c.name = "Out1";
        c.softwareVersion = softwareVersionForLevel(level);
        c.commandPort = 0;
        c.dataPort = 0;
        c.stateFolder = m_state->path();
        m_reader = std::make_unique<Reader>(c);
        // Triggered from the start, so that every cycle and counter is the test's own.
        m_reader->parameters().setFields("TRIG", {"T"});
        QString error;
        if (!m_reader->start(&error)) {
            qWarning() << error;
            return false;
        }
        m_commands = std::make_unique<CommandClient>();
        return m_commands->control(*m_reader);
    }
    bool set(const QString& line) {
        const QString status = m_commands->statusOf(line);
        if (!status.endsWith(" OK"))
            qWarning().noquote() << line << "->" << status;
        return status.endsWith(" OK");
    }
    void trigger() { QVERIFY(set("VT")); }

private slots:
    void init() {
        QTest::failOnWarning(QRegularExpression(".*"));
        m_state = std::make_unique<QTemporaryDir>();
        qputenv("VELMARROW_SIM_PORTS_DIR", m_state->filePath("ports").toLocal8Bit());
    }
    void cleanup() {
        m_commands.reset();
        m_reader.reset();
    }

    // A trigger that comes while the last still waits for its cycle is a trigger overrun,
    // (CD12); decode overruns (CD13) and acquisition time-outs (CD14) are counted apart.
    void overrunsAreCountedApart() {
        QVERIFY(start(10));
        Listener tcp1;
        QVERIFY(tcp1.open(*m_reader, 1));
        QVERIFY(set("OUTPUT TCP1 OKDEC Y \"(CD02)/(CD12)/(CD13)/(CD14)<END>\" NONE"));
        QCOMPARE(m_commands->sendAll({"VT 1", "VT 1"}), QStringList({"!VT OK", "!VT OK"}));
        QCOMPARE(tcp1.until("<END>"), QByteArray("2/1/0/0<END>"));
    }

    // A text in the ISO/IEC 15434 envelope gives its unique item identifier: the enterprise
    // (DUNS 12V, CAGE 17V, issuing agency code and enterprise 18V) with the part number when
    // there is one and the serial number, or the whole identifier 25S. Without a serial
    // number the enterprise and part number form no unique item identifier.
    void uniqueItemIdentifiers() {
        QVERIFY(start(10));
        Listener tcp1;
        QVERIFY(tcp1.open(*m_reader, 1));
        QVERIFY(set("OUTPUT TCP1 OKDEC Y \"(UII_ONLY)|(UII_WITH_INFO)<END>\" NONE"));
        QString error;
        for (const auto& [elements, expected] : QList<QPair<QString, QByteArray>>{
                 {"12V123456789\x1d"
                  "1PXY-9\x1dS0042",
                  "123456789XY-90042|UII 123456789XY-90042;12V 123456789;1P XY-9;S 0042"},
                 {"17V1A2B3\x1d"
                  "1PXY-9\x1dS0042",
                  "1A2B3XY-90042|UII 1A2B3XY-90042;17V 1A2B3;1P XY-9;S 0042"},
                 {"18VD1A2B3\x1dS0042", "D1A2B30042|UII D1A2B30042;18V D1A2B3;S 0042"},
                 {"25SD1A2B30042", "D1A2B30042|UII D1A2B30042;25S D1A2B30042"},
                 {"17V1A2B3\x1d"
                  "1PXY-9",
                  "|"}}) {
            QVERIFY(m_reader->setScene("text",
                                       "[)>\x1e"
                                       "06\x1d" +
                                           elements + "\x1e\x04",
                                       &error));
            trigger();
            QCOMPARE(tcp1.until("<END>"), expected + "<END>");
        }
    }

    // The image fields carry the cycle's image as BMP, TIFF and raw bytes.
    void imageDataFields() {
        QVERIFY(start(10));
        Listener tcp2;
        QVERIFY(tcp2.open(*m_reader, 2));
        DataClient data;
        QVERIFY(data.open(*m_reader, 0));
        QVERIFY(set("OUTPUT TCP2 OKDEC Y \"(ID01)(ID02)(CD25)\" NONE"));
        trigger();
        QByteArray pixels;
        const QJsonObject record = data.nextRecord(&pixels);
        const int w = record.value("width").toInt(), h = record.value("height").toInt();
        QCOMPARE(pixels.size(), qsizetype(w) * h);
        const int bmpSize = 14 + 40 + 1024 + ((w + 3) & ~3) * h;
        const QByteArray bmp = tcp2.take(bmpSize);
        QImage fromBmp;
        QVERIFY(fromBmp.loadFromData(bmp, "BMP"));
        QCOMPARE(fromBmp.size(), QSize(w, h));
        const QByteArray tiffHead = tcp2.take(8);
        QCOMPARE(tiffHead.left(4), QByteArray("II*\0", 4));
        const quint32 ifd = qFromLittleEndian<quint32>(tiffHead.constData() + 4);
        const QByteArray tiffRest = tcp2.take(ifd - 8 + 2 + 9 * 12 + 4);
        const QByteArray tiffPixels = tiffRest.left(qsizetype(w) * h);
        QCOMPARE(tiffPixels, pixels);
        QCOMPARE(tcp2.take(qsizetype(w) * h), pixels);
        const QImage grey = fromBmp.convertToFormat(QImage::Format_Grayscale8);
        for (int y : {0, h / 2, h - 1})
            QCOMPARE(QByteArray(reinterpret_cast<const char*>(grey.constScanLine(y)), w),
                     pixels.mid(qsizetype(y) * w, w));
    }
};

int runOutputTests(int argc, char** argv) {
    TestOutput t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_output.moc"
