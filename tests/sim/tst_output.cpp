// The reader's formatted output as a controller on its TCP output ports receives it: every
// keyword of the format language, header and trailer, fixed buffers, the events of a cycle,
// matching and the beeper. (Serial-number matching and the oldest readers' reports are
// pinned, through their windows, by the output and match contract tables.)

#include "sim/adminconsole.h"
#include "sim/catalogue.h"
#include "sim/dataframe.h"
#include "sim/output.h"
#include "sim/reader.h"
#include "sim/simulator.h"

#include <QBuffer>
#include <QDateTime>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <functional>
#include <memory>

using namespace vm::sim;

namespace {

constexpr int kWait = 5000;

// A station on the command port: one line out, the reply's status line back.
class Commands {
public:
    bool open(const Reader& r) {
        m_socket.connectToHost(r.address(), r.commandPort());
        return m_socket.waitForConnected(kWait) && send("STATION WS-OUT").endsWith("OK") &&
               send("CONTROL").endsWith("OK");
    }
    // The status line; the reply's data line, if any, into `data`.
    QString send(const QString& line, QString* data = nullptr) { return sendAll({line}, data).value(0); }
    // Lines written at once, and their status lines.
    QStringList sendAll(const QStringList& lines, QString* data = nullptr) {
        m_socket.write(lines.join("\r\n").toUtf8() + "\r\n");
        QStringList statuses;
        // On a time-out the caller sees what came, and its comparison fails there.
        static_cast<void>(QTest::qWaitFor(
            [&] {
                m_buffer += m_socket.readAll();
                qsizetype lf;
                while ((lf = m_buffer.indexOf('\n')) >= 0 && statuses.size() < lines.size()) {
                    const QString l = QString::fromUtf8(m_buffer.left(lf)).trimmed();
                    m_buffer.remove(0, lf + 1);
                    if (l.startsWith('!'))
                        statuses << l;
                    else if (data)
                        *data = l;
                }
                return statuses.size() == lines.size();
            },
            kWait));
        return statuses;
    }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

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
    // Whatever has arrived by now (after the reader's next record went out).
    QByteArray pending() {
        m_buffer += m_socket.readAll();
        return std::exchange(m_buffer, {});
    }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

// The data channel: records and events as the program receives them.
class DataStream {
public:
    bool open(const Reader& r, bool images = false) {
        m_socket.connectToHost(r.address(), r.dataPort());
        if (!m_socket.waitForConnected(kWait))
            return false;
        m_socket.write(
            encodeFrame(FrameType::Subscribe, QJsonDocument(QJsonObject{{"station", "WS-OUT"},
                                                                        {"imageMode", images ? 0 : 2},
                                                                        {"imageRate", 0},
                                                                        {"reportRate", 0}})
                                                  .toJson(QJsonDocument::Compact)));
        return true;
    }
    // The next record's JSON object (and its image bytes).
    QJsonObject record(QByteArray* image = nullptr) {
        Frame f;
        if (!next(FrameType::Record, &f))
            return {};
        const quint32 n = qFromLittleEndian<quint32>(f.payload.constData());
        if (image)
            *image = f.payload.mid(4 + n);
        return QJsonDocument::fromJson(f.payload.mid(4, n)).object();
    }
    // Every event of this kind received so far.
    QList<QJsonObject> events(const QString& kind) {
        QList<QJsonObject> out;
        m_pending += m_frames.feed(m_socket.readAll());
        for (const Frame& f : m_seen + m_pending) {
            const QJsonObject o = QJsonDocument::fromJson(f.payload).object();
            if (f.type == FrameType::Event && o.value("event").toString() == kind)
                out << o;
        }
        return out;
    }

private:
    bool next(FrameType type, Frame* out) {
        return QTest::qWaitFor(
            [&] {
                m_pending += m_frames.feed(m_socket.readAll());
                while (!m_pending.isEmpty()) {
                    const Frame f = m_pending.takeFirst();
                    m_seen << f;
                    if (f.type == type) {
                        *out = f;
                        return true;
                    }
                }
                return false;
            },
            kWait);
    }
    QTcpSocket m_socket;
    FrameReader m_frames;
    QList<Frame> m_pending;
    QList<Frame> m_seen;
};

// The next n reports, each ending in ";", in the order they arrive.
QByteArray reports(Listener& port, int n) {
    QByteArray out;
    for (int i = 0; i < n; ++i)
        out += port.until(";");
    return out;
}

QString timeStampOf(const QJsonObject& record) {
    return QDateTime::fromMSecsSinceEpoch(record.value("time").toInteger())
        .toString("yyyy-MM-dd hh:mm:ss.zzz");
}

int angleOf(const QJsonObject& record) {
    const QJsonArray c = record.value("corners").toArray();
    const double a = std::atan2(c[3].toDouble() - c[1].toDouble(), c[2].toDouble() - c[0].toDouble());
    const int degrees = int(std::lround(a * 180.0 / M_PI));
    return ((degrees % 360) + 360) % 360;
}

} // namespace

class TestOutput : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_state;
    std::unique_ptr<Reader> m_reader;
    std::unique_ptr<Commands> m_commands;

    // A triggered reader of this level, this test in control of it.
    bool start(int level, bool serial = false) {
        ReaderConfig c;
        c.name = "Out1";
        c.softwareVersion = softwareVersionForLevel(level);
        c.commandPort = 0;
        c.dataPort = 0;
        c.stateFolder = m_state->path();
        c.serial = serial;
        m_reader = std::make_unique<Reader>(c);
        // Triggered from the start, so that every cycle and counter is the test's own.
        m_reader->parameters().setFields("TRIG", {"T"});
        QString error;
        if (!m_reader->start(&error)) {
            qWarning() << error;
            return false;
        }
        m_commands = std::make_unique<Commands>();
        return m_commands->open(*m_reader);
    }
    bool set(const QString& line) {
        const QString status = m_commands->send(line);
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

    // A symbol seen but not read fails its verification: (VERI_STATUS) says FAILED, (VERI_GRADE) F,
    // (VERI_1_IAQG) 0.0. A reader that does not grade leaves every verification keyword empty,
    // the numeric grade too: a controller must not take "no grade" for a failed one.
    void unreadSymbolVerifiesAsFailed() {
        QVERIFY(start(10));
        QVERIFY(set("VERIFY ISO"));
        Listener tcp1;
        QVERIFY(tcp1.open(*m_reader, 1));
        QVERIFY(set("OUTPUT TCP1 DECFL Y \"(VERI_STATUS)/(VERI_GRADE)/(VERI_1_IAQG)<END>\" NONE"));
        QVERIFY(set("NUMDM 0"));
        trigger();
        QCOMPARE(tcp1.until("<END>"), QByteArray("FAILED/F/0.0<END>"));

        QVERIFY(set("VERIFY NONE"));
        QVERIFY(set("OUTPUT TCP1 DECFL Y \"(VERI_STATUS)/(VERI_GRADE)/(VERI_1_IAQG)/(VERI_AIMDPM)/"
                    "(VERI_DETAIL)/(VERI_FORMATTED)<END>\" NONE"));
        trigger();
        QCOMPARE(tcp1.until("<END>"), QByteArray("/////<END>"));
        QVERIFY(set("NUMDM 1"));
        QVERIFY(set("OUTPUT TCP1 OKDEC Y \"(VERI_STATUS)/(VERI_GRADE)/(VERI_1_IAQG)/(VERI_AIMDPM)/"
                    "(VERI_DETAIL)/(VERI_FORMATTED)<END>\" NONE"));
        trigger();
        QCOMPARE(tcp1.until("<END>"), QByteArray("/////<END>"));
    }

    // Each keyword of the format language, on TCP1, against the record the program receives
    // for the same cycle.
    void everyKeywordExpands() {
        QVERIFY(start(10));
        QVERIFY(set("VERIFY ISO"));
        QVERIFY(set("MATCHEX T \"NOTHING\" 0 1 1 1"));
        QVERIFY(set("MATCH_LIST 3 \"VELMARROW-*\""));
        QVERIFY(set("MATCH_LIST_ENABLE ON"));
        Listener tcp1;
        QVERIFY(tcp1.open(*m_reader, 1));
        DataStream data;
        QVERIFY(data.open(*m_reader));

        using Expect = std::function<QByteArray(const QJsonObject&, const QString& stats)>;
        const QList<QPair<QString, Expect>> cases = {
            {"(DATA)", [](const QJsonObject& r, auto) { return r.value("text").toString().toUtf8(); }},
            {"(DATAHEX)", [](const QJsonObject& r,
                             auto) { return r.value("text").toString().toUtf8().toHex().toUpper(); }},
            {"(PID#)", [](auto, auto) { return QByteArray("0"); }},
            {"(TIMESTAMP)", [](const QJsonObject& r, auto) { return timeStampOf(r).toUtf8(); }},
            {"(DETAILED)", [](const QJsonObject& r, auto) { return r.value("status").toString().toUtf8(); }},
            {"(VERI_GRADE)",
             [](const QJsonObject& r, auto) {
                 return r.value("verification")["overallGrade"].toString().toUtf8();
             }},
            {"(VERI_DETAIL)",
             [](const QJsonObject& r, auto) {
                 QStringList l;
                 for (const QJsonValue& p : r.value("verification")["parameters"].toArray())
                     l << p["name"].toString() + "=" + p["grade"].toString();
                 return l.join(',').toUtf8();
             }},
            {"(VERI_FORMATTED)",
             [](const QJsonObject& r, auto) {
                 QString s;
                 for (const QJsonValue& p : r.value("verification")["parameters"].toArray())
                     s += p["name"].toString() + ": " + p["value"].toString() + " " + p["grade"].toString() +
                          "\r\n";
                 return (s + "Overall: " + r.value("verification")["overallGrade"].toString() + "\r\n")
                     .toUtf8();
             }},
            {"(VERI_STATUS)",
             [](const QJsonObject& r, auto) {
                 const char* names[] = {"FAILED", "POOR", "FAIR", "GOOD"};
                 return QByteArray(names[r.value("verification")["gradeCode"].toInt()]);
             }},
            {"(VERI_1_IAQG)",
             [](const QJsonObject& r, auto) {
                 return QByteArray::number(
                     double(QString("FDCBA").indexOf(r.value("verification")["overallGrade"].toString())),
                     'f', 1);
             }},
            {"(VERI_AIMDPM)",
             [](const QJsonObject& r, auto) {
                 return (r.value("verification")["standard"].toString() + " " +
                         r.value("verification")["overallGrade"].toString())
                     .toUtf8();
             }},
            {"(ANGLE)", [](const QJsonObject& r, auto) { return QByteArray::number(angleOf(r)); }},
            {"AB(CHECKSUM)", [](auto, auto) { return QByteArray("AB03"); }},
            {"(MATCH_INDEX)", [](auto, auto) { return QByteArray("3"); }},
            {"x\\0d\\0a\\41", [](auto, auto) { return QByteArray("x\r\nA"); }},
            {"(UII_ONLY)|(UII_WITH_INFO)", [](auto, auto) { return QByteArray("|"); }},
            {"(CD01)(CD16)(CD17)(CD18)(CD19)",
             [](auto, auto) { return QByteArray("PASSPASSLOCATEDDECODEDMATCHED"); }},
            {"(CD02),(CD03),(CD04),(CD07),(CD08)",
             [](auto, const QString& stats) {
                 const QStringList s = stats.split(' ');
                 return (s[1] + "," + s[2] + "," + s[3] + "," + s[2] + "," + s[3]).toUtf8();
             }},
            {"(CD09),(CD10),(CD11),(CD05),(CD06)",
             [](auto, const QString& stats) {
                 return (stats.split(' ')[2] + ",0,0," + stats.split(' ')[2] + ",0").toUtf8();
             }},
            {"(CD12)(CD13)(CD14)(CD15)[(CD20)]", [](auto, auto) { return QByteArray("0000[]"); }},
            {"(CD21)|(CD22)|(CD23)|(CD24)",
             [](const QJsonObject& r, auto) {
                 return (r.value("verification")["overallGrade"].toString() + "|" +
                         r.value("text").toString() + "|" + QString::number(r.value("exposure").toInt()) +
                         "," + QString::number(r.value("gain").toInt()) + "|" + timeStampOf(r))
                     .toUtf8();
             }},
            {"(data)", [](const QJsonObject& r, auto) { return r.value("text").toString().toUtf8(); }},
            {"(NOTAKEYWORD)(DATA", [](auto, auto) { return QByteArray("(NOTAKEYWORD)(DATA"); }},
        };
        for (const auto& [format, expect] : cases) {
            QVERIFY(set(QString("OUTPUT TCP1 OKDEC Y \"%1<END>\" NONE").arg(format)));
            trigger();
            const QJsonObject record = data.record();
            QVERIFY2(record.value("symbolFound").toBool(), qPrintable(format));
            QVERIFY(record.contains("verification"));
            QByteArray report = tcp1.until("<END>");
            report.chop(5);
            // The counters as the reader reports them on request, after this cycle.
            QString counters;
            QCOMPARE(m_commands->send("STATS", &counters), QString("!STATS OK"));
            QCOMPARE(report, expect(record, counters));
        }
        // All data is every cycle field from the first to the image time stamp, comma-separated.
        QVERIFY(set("OUTPUT TCP1 OKDEC Y \"(CD01)<A>(CD00)<B>(CD24)<END>\" NONE"));
        trigger();
        QByteArray all = tcp1.until("<END>");
        all.chop(5);
        const QByteArray first = all.left(all.indexOf("<A>"));
        const QByteArray last = all.mid(all.indexOf("<B>") + 3);
        const QByteArray whole = all.mid(first.size() + 3, all.indexOf("<B>") - first.size() - 3);
        QVERIFY2(!first.isEmpty() && !last.isEmpty(), all.constData());
        QVERIFY2(whole.startsWith(first + ',') && whole.endsWith(',' + last), all.constData());
        // A text in the ISO/IEC 15434 envelope gives its unique item identifier: the enterprise
        // (DUNS 12V, CAGE 17V, issuing agency code and enterprise 18V) with the part number when
        // there is one and the serial number, or the whole identifier 25S. Without a serial
        // number the enterprise and part number form no unique item identifier.
        QString error;
        QVERIFY(set("OUTPUT TCP1 OKDEC Y \"(UII_ONLY)|(UII_WITH_INFO)<END>\" NONE"));
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
        DataStream data;
        QVERIFY(data.open(*m_reader, true));
        QVERIFY(set("OUTPUT TCP2 OKDEC Y \"(ID01)(ID02)(CD25)\" NONE"));
        trigger();
        QByteArray pixels;
        const QJsonObject record = data.record(&pixels);
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

    // Header and trailer go around the report as its event's use says, the port's own.
    void headerAndTrailerUse() {
        QVERIFY(start(10));
        QVERIFY(set("OUTPUT TCP3 H_T \"<H>\" \"<T>\\0d\\0a\""));
        QVERIFY(set("OUTPUT TCP1 H_T \"wrong\" \"wrong\""));
        Listener tcp3;
        QVERIFY(tcp3.open(*m_reader, 3));
        for (const auto& [use, expected] : QList<QPair<QString, QByteArray>>{
                 {"H_T", "<H>R<T>\r\n"}, {"H", "<H>R|"}, {"T", "R<T>\r\n"}, {"NONE", "R|"}}) {
            QVERIFY(set("OUTPUT TCP3 OKDEC Y \"R\" " + use));
            // The reports without a trailer end with a mark of their own.
            if (!expected.endsWith('\n'))
                QVERIFY(set("OUTPUT TCP3 OKDEC Y \"R|\" " + use));
            trigger();
            QCOMPARE(tcp3.until(expected.endsWith('\n') ? "\r\n" : "|"), expected);
        }
    }

    // A fixed buffer gets exactly its length: short reports padded with blanks, long ones cut.
    void fixedBufferLength() {
        QVERIFY(start(10));
        Listener tcp4;
        QVERIFY(tcp4.open(*m_reader, 4));
        QVERIFY(set("OUTPUT TCP4 FIXED 12"));
        QVERIFY(set("OUTPUT TCP4 OKDEC Y \"ab\" NONE"));
        trigger();
        QCOMPARE(tcp4.take(12), QByteArray("ab          "));
        QVERIFY(set("OUTPUT TCP4 OKDEC Y \"0123456789ABCDEF\" NONE"));
        trigger();
        QCOMPARE(tcp4.take(12), QByteArray("0123456789AB"));
        // 1 is no fixed buffer.
        QVERIFY(set("OUTPUT TCP4 FIXED 1"));
        QVERIFY(set("OUTPUT TCP4 OKDEC Y \"ab|\" NONE"));
        trigger();
        QCOMPARE(tcp4.until("|"), QByteArray("ab|"));
    }

    // Quotes inside a format string are sent as they are.
    void quotesInsideAFormat() {
        QVERIFY(start(10));
        Listener tcp1;
        QVERIFY(tcp1.open(*m_reader, 1));
        DataStream data;
        QVERIFY(data.open(*m_reader));
        QVERIFY(set("OUTPUT TCP1 OKDEC Y \"say \"(DATA)\"!|\" NONE"));
        trigger();
        const QString text = data.record().value("text").toString();
        QCOMPARE(tcp1.until("|"), ("say \"" + text + "\"!|").toUtf8());
    }

    // The match list works from level 7, the first level that has it; a level 6 reader has no
    // list at all.
    void matchListFromLevelSeven() {
        QVERIFY(start(7));
        QVERIFY(set("OUTPUT TCP2 OKDEC Y \"D;\" NONE"));
        QVERIFY(set("OUTPUT TCP2 OKMATCH Y \"OKMATCH(MATCH_INDEX);\" NONE"));
        QVERIFY(set("OUTPUT TCP2 MATCHFL Y \"MATCHFL;\" NONE"));
        Listener tcp2;
        QVERIFY(tcp2.open(*m_reader, 2));
        QVERIFY(set("MATCHEX T \"ABC*\" 0 1 1 1"));
        QVERIFY(set("MATCH_LIST 7 \"*ARROW*\""));
        QVERIFY(set("MATCH_LIST_ENABLE ON"));
        // The four match bits carry the matched entry's number, MATCH_BIT_1 its lowest bit.
        QVERIFY(set("IOASSIGN OPTO_OUT1 MATCH_BIT_1"));
        QVERIFY(set("IOASSIGN OPTO_OUT2 MATCH_BIT_2"));
        QVERIFY(set("IOASSIGN OPTO_OUT3 MATCH_BIT_3"));
        QVERIFY(set("IOASSIGN GPIO_OUT1 MATCH_BIT_4"));
        auto bits = [&] {
            QString b;
            for (const char* line : {"GPIO_OUT1", "OPTO_OUT3", "OPTO_OUT2", "OPTO_OUT1"})
                b += m_reader->lines().state(line).active ? '1' : '0';
            return b;
        };
        trigger();
        QCOMPARE(reports(tcp2, 2), QByteArray("D;OKMATCH7;"));
        QCOMPARE(bits(), QString("0111"));
        // The last of the fifteen strings counts too.
        QVERIFY(set("MATCH_LIST 7 \"\""));
        QVERIFY(set("MATCH_LIST 15 \"*ARROW*\""));
        trigger();
        QCOMPARE(reports(tcp2, 2), QByteArray("D;OKMATCH15;"));
        QCOMPARE(bits(), QString("1111"));
        QVERIFY(set("MATCH_LIST_ENABLE OFF"));
        trigger();
        QCOMPARE(reports(tcp2, 2), QByteArray("D;MATCHFL;"));
        QCOMPARE(bits(), QString("0000"));
        m_commands.reset();
        m_reader.reset();
        QVERIFY(start(6));
        QVERIFY(m_commands->send("MATCH_LIST_ENABLE ON").startsWith("!MATCH_LIST_ENABLE ERROR"));
    }

    // An older reader's report takes the common header and trailer each by its own box.
    void olderReportsTakeHeaderAndTrailerByTheirBoxes() {
        QVERIFY(start(2));
        QVERIFY(set("HEADER \"<\""));
        QVERIFY(set("TRAILER \">\""));
        Listener tcp1;
        QVERIFY(tcp1.open(*m_reader, 1));
        QVERIFY(set("OKDEC Y \"D\" N Y 0"));
        trigger();
        QCOMPARE(tcp1.until(">"), QByteArray("D>"));
        QVERIFY(set("OKDEC Y \"E\" Y N 0"));
        trigger();
        QCOMPARE(tcp1.until("E"), QByteArray("<E"));
    }

    // Decode pass, decode fail, locate fail and the match events each send their own report.
    void eventsOfACycle() {
        QVERIFY(start(10));
        for (const char* e : {"OKDEC", "DECFL", "LOCFL", "OKMATCH", "MATCHFL", "RTE"})
            QVERIFY(set(QString("OUTPUT TCP2 %1 Y \"%1;\" NONE").arg(e)));
        Listener tcp2;
        QVERIFY(tcp2.open(*m_reader, 2));
        trigger();
        QCOMPARE(tcp2.until(";"), QByteArray("OKDEC;"));

        // A wildcard match string (a failed match and the match list: matchListFromLevelSeven).
        QVERIFY(set("MATCHEX T \"VELM?RROW-*\" 0 1 1 1"));
        trigger();
        QCOMPARE(reports(tcp2, 2), QByteArray("OKDEC;OKMATCH;"));
        // Serial matching: a part whose number is not the count fails and leaves the count as
        // it was; a part that matches moves it on by the increment.
        QString error;
        QVERIFY(m_reader->setScene("serialstep", "0", &error));
        QVERIFY(set("MATCHEX S \"\" 42 1 11 14"));
        for (const char* serial : {"41", "42", "43"}) {
            QVERIFY(m_reader->setScene("serial", serial, &error));
            trigger();
            QCOMPARE(reports(tcp2, 2),
                     QByteArray(serial == QByteArray("41") ? "OKDEC;MATCHFL;" : "OKDEC;OKMATCH;"));
        }
        QVERIFY(set("MATCHEX N \"\" 0 1 1 1"));

        // A symbology the reader does not decode: seen but not decoded.
        QVERIFY(set("NUMDM 0"));
        trigger();
        QCOMPARE(tcp2.until(";"), QByteArray("DECFL;"));
        // Nothing in view: nothing located.
        QVERIFY(set("NUMDM 1"));
        QVERIFY(m_reader->setScene("contrast", "0", &error));
        trigger();
        QCOMPARE(tcp2.until(";"), QByteArray("LOCFL;"));
        // A report turned off sends nothing.
        QVERIFY(set("OUTPUT TCP2 LOCFL N \"LOCFL;\" NONE"));
        QVERIFY(set("OUTPUT TCP2 DECFL Y \"(CD05)/(CD06)/(CD08);\" NONE"));
        trigger();
        QVERIFY(m_reader->setScene("contrast", "100", &error));
        QVERIFY(set("NUMDM 0"));
        trigger();
        // Nine cycles: seven saw a symbol, two saw nothing, four did not decode.
        QCOMPARE(tcp2.until(";"), QByteArray("7/2/4;"));
    }

    // The beeper sounds the counts of the cycle's events while it is on.
    void beeperEvents() {
        QVERIFY(start(10));
        DataStream data;
        QVERIFY(data.open(*m_reader));
        QVERIFY(set("BEEP Y"));
        QVERIFY(set("OUTPUT BEEP 1 0 0 3 2 0"));
        QVERIFY(set("MATCHEX T \"*\" 0 1 1 1"));
        trigger();
        data.record();
        QTRY_COMPARE(data.events("beep").size(), 2);
        QCOMPARE(data.events("beep")[0], (QJsonObject{{"event", "beep"}, {"cause", "OKDEC"}, {"count", 1}}));
        QCOMPARE(data.events("beep")[1],
                 (QJsonObject{{"event", "beep"}, {"cause", "OKMATCH"}, {"count", 3}}));
        QVERIFY(m_reader->stateText().contains("beeps=4"));
        QVERIFY(set("BEEP N"));
        trigger();
        data.record();
        trigger();
        data.record();
        QCOMPARE(data.events("beep").size(), 2);
        QVERIFY(m_reader->stateText().contains("beeps=4"));
    }

    // The serial line is the standard port: its reports come as blocks between replies.
    void standardPortOnTheSerialLine() {
        QVERIFY(start(10, true));
        QVERIFY(set("OUTPUT STANDARD OKDEC Y \"S:(DATA)(CD02)\" NONE"));
        const int fd =
            ::open(m_reader->serialDevice().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        DataStream data;
        QVERIFY(data.open(*m_reader));
        trigger();
        const QString text = data.record().value("text").toString();
        const QByteArray expected = "S:" + text.toUtf8();
        QByteArray in;
        QVERIFY(QTest::qWaitFor(
            [&] {
                char buf[4096];
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0)
                    in.append(buf, n);
                return in.contains(expected + "\r\n");
            },
            kWait));
        ::close(fd);
        QVERIFY2(in.contains("#OUTPUT " + QByteArray::number(expected.size()) + "\r\n" + expected + "\r\n"),
                 in.constData());
    }
};

int runOutputTests(int argc, char** argv) {
    TestOutput t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_output.moc"
