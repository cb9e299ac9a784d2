// Framing, field splitting, records and parameter sets: what needs no reader.
#include "link/fields.h"
#include "link/parameterset.h"
#include "link/protocol.h"
#include "link/record.h"
#include "link/wholefile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <unistd.h>

using namespace vm::link;

namespace {
QByteArray recordPayload(const QJsonObject& header, const QByteArray& image) {
    const QByteArray json = QJsonDocument(header).toJson(QJsonDocument::Compact);
    QByteArray out(4, '\0');
    qToLittleEndian<quint32>(quint32(json.size()), out.data());
    return out + json + image;
}

QJsonObject recordHeader(int width, int height, const QString& kind) {
    return QJsonObject{{"number", 42},
                       {"time", 1700000000000.0},
                       {"passed", true},
                       {"symbolFound", true},
                       {"text", "LOT 7"},
                       {"status", "Read OK"},
                       {"decodeMs", 12.5},
                       {"exposure", 800},
                       {"gain", 3},
                       {"photometryValid", true},
                       {"corners", QJsonArray{1, 2, 3, 4, 5, 6, 7, 8}},
                       {"width", width},
                       {"height", height},
                       {"image", kind}};
}

QImage rampImage(int width, int height) {
    QImage image(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.scanLine(y)[x] = uchar((x + y) % 256);
    return image;
}

QByteArray pixelBytes(const QImage& image) {
    QByteArray bytes;
    for (int y = 0; y < image.height(); ++y)
        bytes.append(reinterpret_cast<const char*>(image.constScanLine(y)), image.width());
    return bytes;
}
} // namespace

class TestFraming : public QObject {
    Q_OBJECT
private slots:
    void init() {
        // Any warning a test does not expect is a fault.
        QTest::failOnWarning(QRegularExpression(".*"));
    }

    void framesSurviveSplitsAndGarbage() {
        FrameDecoder decoder;
        const QByteArray a = encodeFrame(FrameType::Event, "{\"event\":\"reset\"}");
        const QByteArray b = encodeFrame(FrameType::Record, QByteArray(70000, 'x'));
        QByteArray oversized = encodeFrame(FrameType::Record, "abc");
        qToLittleEndian<quint32>(kMaxFramePayload + 1, oversized.data() + 8);
        const QByteArray stream = "garbage!" + a + oversized + b.left(5);

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("bad frame magic"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("oversized frame length"));
        decoder.append(stream);
        auto first = decoder.next();
        QVERIFY(first);
        QCOMPARE(first->type, quint16(FrameType::Event));
        QCOMPARE(first->payload, QByteArray("{\"event\":\"reset\"}"));
        QVERIFY(!decoder.next()); // the oversized header is skipped, b is still incomplete
        decoder.append(b.mid(5));
        auto second = decoder.next();
        QVERIFY(second);
        QCOMPARE(second->payload.size(), 70000);
        QVERIFY(!decoder.next());
        QVERIFY(decoder.droppedBytes() > 0);

        // Stray bytes, then a frame whose magic is cut after its first three bytes: those three
        // are kept, and the frame arrives whole.
        FrameDecoder split;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("bad frame magic - dropping 5 bytes"));
        split.append("noise" + a.left(3));
        QVERIFY(!split.next());
        split.append(a.mid(3));
        const auto whole = split.next();
        QVERIFY(whole);
        QCOMPARE(whole->payload, QByteArray("{\"event\":\"reset\"}"));
        QCOMPARE(split.droppedBytes(), qint64(5));
    }

    void commandKeywordIsTheFirstWordInCapitals() { QCOMPARE(commandKeyword("  trig c"), QString("TRIG")); }

    void recordsCarryResultAndImage_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("raw") << "raw";
        QTest::newRow("zlib") << "zlib";
    }

    void recordsCarryResultAndImage() {
        QFETCH(QString, kind);
        const QImage image = rampImage(659, 494);
        QByteArray bytes = pixelBytes(image);
        if (kind == "zlib")
            bytes = qCompress(bytes);
        QString error;
        auto record = parseRecordPayload(recordPayload(recordHeader(659, 494, kind), bytes), &error);
        QVERIFY2(record, qPrintable(error));
        QCOMPARE(record->Number(), 42);
        QVERIFY(record->Passed());
        QCOMPARE(record->Result().Text(), QString("LOT 7"));
        QCOMPARE(record->Result().StatusText(), QString("Read OK"));
        QCOMPARE(record->Result().Corners().size(), 4);
        QCOMPARE(record->Result().Corners().at(3), QPointF(7, 8));
        QCOMPARE(record->Image().Exposure(), 800);
        QCOMPARE(record->Image().Gain(), 3);
        QVERIFY(record->Image().PhotometryValid());
        QVERIFY(!record->HasLearnStatus());
        QCOMPARE(record->Image().image(), image);
        QCOMPARE(record->Image().GrayValue(10, 20), 30);
        QCOMPARE(record->Image().GrayValue(659, 0), -1);

        // A symbol found and the read failed all the same (a match, a grade): the verdict is
        // the reader's, not whether it found something.
        QJsonObject failed = recordHeader(0, 0, "none");
        failed.insert("passed", false);
        record = parseRecordPayload(recordPayload(failed, {}), &error);
        QVERIFY2(record, qPrintable(error));
        QVERIFY(!record->Passed());
        QVERIFY(record->Result().SymbolFound());
    }

    void badRecordsAreRefused() {
        QString error;
        QVERIFY(!parseRecordPayload("ab", &error));
        QVERIFY(!parseRecordPayload(recordPayload(recordHeader(10, 10, "raw"), QByteArray(99, 'x')), &error));
        QVERIFY(error.contains("expected 100"));
        QVERIFY(!parseRecordPayload(recordPayload(recordHeader(10, 10, "zlib"), "not zlib at all"), &error));
        QVERIFY(!parseRecordPayload(recordPayload(recordHeader(-1, 10, "raw"), {}), &error));
        QByteArray badJson(4, '\0');
        qToLittleEndian<quint32>(5, badJson.data());
        QVERIFY(!parseRecordPayload(badJson + "{oops", &error));
        QByteArray overlong(4, '\0');
        qToLittleEndian<quint32>(0xFFFFFFFF, overlong.data());
        QVERIFY(!parseRecordPayload(overlong + "{}", &error));

        QJsonObject noImage = recordHeader(0, 0, "none");
        noImage.insert("learnStatus", 2);
        noImage.insert("verification",
                       QJsonObject{{"standard", "ISO15415"}, {"overallGrade", "B"}, {"gradeCode", 3}});
        auto record = parseRecordPayload(recordPayload(noImage, {}), &error);
        QVERIFY(record);
        QVERIFY(record->Image().IsEmpty());
        QCOMPARE(record->LearnStatus(), 2);
        QVERIFY(record->HasVerification());
        QCOMPARE(record->Verification()->overallGrade, QString("B"));
    }

    void histogramCountsThePixelsOfTheRectangle() {
        QImage image(4, 2, QImage::Format_Grayscale8);
        const uchar rows[2][4] = {{0, 10, 20, 30}, {40, 50, 60, 70}};
        for (int y = 0; y < 2; ++y)
            memcpy(image.scanLine(y), rows[y], 4);
        const RecordImage ri(image, 1, 0, 0, true);
        const HistogramResult all = ri.Histogram(QRect(0, 0, 4, 2));
        QCOMPARE(all.pixelCount, quint64(8));
        QCOMPARE(all.bins[30], quint32(1));
        QCOMPARE(all.mean, 35.0);
        QVERIFY(qAbs(all.standardDeviation - std::sqrt(525.0)) < 1e-9);
        // Inclusive edges, clipped to the image.
        const HistogramResult part = ri.Histogram(2, 1, 100, 100);
        QCOMPARE(part.pixelCount, quint64(2));
        QCOMPARE(part.mean, 65.0);
        QCOMPARE(part.standardDeviation, 5.0);
        QCOMPARE(ri.Histogram(10, 10, 20, 20).pixelCount, quint64(0));
        // Corners given in either order make the same area.
        for (const QRect& corners : {QRect(QPoint(3, 1), QPoint(0, 0)), QRect(QPoint(0, 1), QPoint(3, 0)),
                                     QRect(QPoint(3, 0), QPoint(0, 1))})
            QCOMPARE(
                ri.Histogram(corners.left(), corners.top(), corners.right(), corners.bottom()).pixelCount,
                quint64(8));
        QCOMPARE(RecordImage().Histogram(0, 0, 5, 5).pixelCount, quint64(0));
    }

    void imagesSaveAsTiffOrBmpByExtension() {
        QTemporaryDir dir;
        const RecordImage ri(rampImage(659, 494), 7, 0, 0, true);
        for (const QString name : {"a.tif", "b.TIFF", "c.bmp"}) {
            const QString path = dir.filePath(name);
            QString error;
            QVERIFY2(ri.SaveToFile(path, &error), qPrintable(error));
            QImage back(path);
            QVERIFY(!back.isNull());
            QCOMPARE(back.convertToFormat(QImage::Format_Grayscale8), ri.image());
        }
        QString error;
        QVERIFY(!ri.SaveToFile(dir.filePath("d.png"), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!ri.SaveToFile(dir.filePath("missing/e.bmp"), &error));
        QVERIFY(!RecordImage().SaveToFile(dir.filePath("f.bmp"), &error));
    }

    void filesAreWrittenWholeOrNotAtAll_data() {
        QTest::addColumn<Durability>("durability");
        QTest::newRow("synced") << Durability::Synced;
        QTest::newRow("unsynced") << Durability::Unsynced;
    }
    void filesAreWrittenWholeOrNotAtAll() {
        QFETCH(Durability, durability);
        QTemporaryDir dir;
        const QString path = dir.filePath("keep.bmp");
        const RecordImage first(rampImage(64, 48), 1, 0, 0, true);
        QVERIFY(first.SaveToFile(path, nullptr, durability));
        // A second name for the first image: saving over it must replace the file,
        // never truncate and rewrite it, or a crash would leave half an image.
        const QString witness = dir.filePath("witness.bmp");
        QVERIFY(::link(QFile::encodeName(path).constData(), QFile::encodeName(witness).constData()) == 0);
        QImage second(64, 48, QImage::Format_Grayscale8);
        second.fill(200);
        QVERIFY(RecordImage(second, 2, 0, 0, true).SaveToFile(path, nullptr, durability));
        QCOMPARE(QImage(witness).convertToFormat(QImage::Format_Grayscale8), first.image());
        QCOMPARE(QImage(path).convertToFormat(QImage::Format_Grayscale8), second);

        // A writer that fails half-way leaves the old file and no temporary behind.
        QString error;
        QVERIFY(!writeWholeFile(
            path,
            [](QIODevice& device, QString* why) {
                device.write(QByteArray(1000, 'x'));
                *why = "stopped";
                return false;
            },
            &error, durability));
        QCOMPARE(error, QString("stopped"));
        QCOMPARE(QImage(path).convertToFormat(QImage::Format_Grayscale8), second);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
        QVERIFY(writeWholeFile(dir.filePath("plain.txt"), "whole\n", nullptr, durability));
        QFile plain(dir.filePath("plain.txt"));
        QVERIFY(plain.open(QIODevice::ReadOnly));
        QCOMPARE(plain.readAll(), QByteArray("whole\n"));
        // Finished files are for anyone to read, not private like a temporary one.
        QVERIFY(plain.permissions() & QFileDevice::ReadOther);
    }

    void editsAndMergesMarkOnlyWhatChanged() {
        ParameterSet window;
        Parameter& trig = window.GetParameter("trig");
        QVERIFY(!window.Modified());
        trig.setLoadedFields({"C", "1"});
        QVERIFY(!window.Modified());
        trig.SetField(3, "X");
        QCOMPARE(trig.Fields(), QStringList({"C", "1", "", "X"}));
        QCOMPARE(trig.CommandText(), QString("trig C 1  X"));
        QCOMPARE(trig.Field(9), QString());
        QVERIFY(window.Modified());
        QCOMPARE(&window.GetParameter("TRIG"), &trig);
        window.GetParameter("BEEP").setLoadedFields({"Y"});

        ParameterSet pending;
        pending.GetParameter("BEEP").SetField(0, "N"); // an earlier change not yet sent
        pending.Merge(window);
        QCOMPARE(pending.ModifiedNames(), QStringList({"BEEP", "trig"}));
        QCOMPARE(pending.Find("BEEP")->Field(0), QString("N")); // an unchanged load does not overwrite it
        pending.Clear();
        QVERIFY(!pending.Modified());
        QCOMPARE(pending.Count(), 0);
    }
};

int runFramingTests(int argc, char** argv) {
    TestFraming test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_framing.moc"
