#include "link/protocol.h"

#include "link/logging.h"
#include "link/record.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtEndian>

#include <zlib.h>

#include <cmath>
#include <limits>

namespace vm::link {

namespace {
constexpr char kMagic[] = "LVX1";

double jsonNumber(const QJsonObject& o, const char* key, double fallback = 0.0) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isDouble())
        return v.toDouble();
    if (v.isString()) {
        bool ok = false;
        const double d = v.toString().toDouble(&ok);
        return ok ? d : fallback;
    }
    if (v.isBool())
        return v.toBool() ? 1.0 : 0.0;
    return fallback;
}

// A reader's number as an integer: non-finite or out-of-range values become the fallback
// instead of undefined conversions.
template <typename Int>
Int jsonInt(const QJsonObject& o, const char* key, Int fallback = 0) {
    const double d = jsonNumber(o, key, double(fallback));
    if (!std::isfinite(d) || d < double(std::numeric_limits<Int>::min()) ||
        d >= double(std::numeric_limits<Int>::max()))
        return fallback;
    return Int(d);
}

QString jsonText(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isString())
        return v.toString();
    if (v.isDouble())
        return QString::number(v.toDouble());
    return {};
}

bool jsonBool(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isBool() ? v.toBool() : jsonNumber(o, key) != 0.0;
}

VerificationResult parseVerification(const QJsonObject& o) {
    VerificationResult v;
    v.raw = o;
    v.standard = jsonText(o, "standard");
    v.overallGrade = jsonText(o, "overallGrade");
    if (v.overallGrade.isEmpty())
        v.overallGrade = jsonText(o, "grade");
    v.gradeCode = jsonInt<int>(o, "gradeCode");
    v.errorCode = jsonInt<int>(o, "errorCode");
    const QJsonValue params = o.value(QLatin1String("parameters"));
    if (params.isArray()) {
        for (const QJsonValue& p : params.toArray()) {
            const QJsonObject po = p.toObject();
            v.parameters.append({jsonText(po, "name"), jsonText(po, "value"), jsonText(po, "grade")});
        }
    } else if (params.isObject()) {
        const QJsonObject po = params.toObject();
        for (auto it = po.begin(); it != po.end(); ++it) {
            const QJsonObject one = it.value().toObject();
            v.parameters.append({it.key(), jsonText(one, "value"), jsonText(one, "grade")});
        }
    }
    return v;
}

CalibrationResult parseCalibration(const QJsonObject& o) {
    CalibrationResult c;
    c.raw = o;
    c.light = jsonText(o, "light");
    c.errorCode = jsonInt<int>(o, "errorCode");
    c.cellUnit = jsonNumber(o, "cellUnit");
    c.contrastMax = jsonNumber(o, "contrastMax");
    c.contrastMin = jsonNumber(o, "contrastMin");
    c.reflectanceCal = jsonNumber(o, "reflectanceCal");
    return c;
}

bool fail(QString* errorText, const QString& text) {
    if (errorText)
        *errorText = text;
    return false;
}
} // namespace

QByteArray encodeFrame(FrameType type, const QByteArray& payload) {
    QByteArray out;
    out.reserve(kFrameHeaderSize + payload.size());
    out.append(kMagic, 4);
    char header[8];
    qToLittleEndian<quint16>(quint16(type), header);
    qToLittleEndian<quint16>(0, header + 2);
    qToLittleEndian<quint32>(quint32(payload.size()), header + 4);
    out.append(header, 8);
    out.append(payload);
    return out;
}

void FrameDecoder::resync(qsizetype from, const char* why) {
    const qsizetype at = m_buffer.indexOf(kMagic, from);
    // Keep a possible partial magic at the end so a frame split across reads survives.
    const qsizetype drop = at >= 0 ? at : qMax<qsizetype>(from, m_buffer.size() - 3);
    if (m_warnings.allow())
        qCWarning(lcLink) << "data channel:" << why << "- dropping" << drop << "bytes";
    m_droppedBytes += drop;
    m_buffer.remove(0, drop);
}

std::optional<Frame> FrameDecoder::next() {
    while (m_buffer.size() >= 4) {
        if (!m_buffer.startsWith(kMagic)) {
            resync(1, "bad frame magic");
            continue;
        }
        if (m_buffer.size() < kFrameHeaderSize)
            return std::nullopt;
        const auto* p = reinterpret_cast<const uchar*>(m_buffer.constData());
        const quint16 type = qFromLittleEndian<quint16>(p + 4);
        const quint32 length = qFromLittleEndian<quint32>(p + 8);
        if (length > kMaxFramePayload) {
            resync(1, "oversized frame length");
            continue;
        }
        if (m_buffer.size() < kFrameHeaderSize + qsizetype(length))
            return std::nullopt;
        Frame f;
        f.type = type;
        f.payload = m_buffer.mid(kFrameHeaderSize, length);
        m_buffer.remove(0, kFrameHeaderSize + length);
        return f;
    }
    return std::nullopt;
}

QString commandKeyword(const QString& command) {
    const QString trimmed = command.trimmed();
    const qsizetype blank = trimmed.indexOf(QRegularExpression(QStringLiteral("\\s")));
    return (blank < 0 ? trimmed : trimmed.left(blank)).toUpper();
}

QByteArray discoveryProbe() {
    return QByteArrayLiteral("LUMIVEX DISCOVER 1\n");
}

bool isAcceptableReaderName(const QString& name) {
    return readerNameProblem(name).isEmpty();
}

QString readerNameProblem(const QString& name) {
    if (name.isEmpty())
        return QStringLiteral("it is empty");
    if (name.size() > kMaxReaderNameLength)
        return QStringLiteral("longer than %1 characters").arg(kMaxReaderNameLength);
    if (name.trimmed() != name)
        return QStringLiteral("begins or ends with a blank");
    if (name == QLatin1String("."))
        return QStringLiteral("it is '.'");
    if (name.contains(QLatin1String("..")))
        return QStringLiteral("contains '..'");
    for (const QChar c : name) {
        const ushort u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0))
            return QStringLiteral("contains a control character");
        if (c.isSurrogate() || u == 0xfffd)
            return QStringLiteral("contains a character that is not valid text");
        if ((u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069) || u == 0x200e || u == 0x200f ||
            u == 0x061c || u == 0xfeff)
            return QStringLiteral("contains a text-direction character");
        if (c == QLatin1Char('/'))
            return QStringLiteral("contains '/'");
        if (c == QLatin1Char('\\'))
            return QStringLiteral("contains '\\'");
        if (!c.isPrint())
            return QStringLiteral("contains a character that cannot be shown");
    }
    return {};
}

std::optional<QByteArray> inflateBounded(const QByteArray& compressed, qint64 expectedSize,
                                         QString* errorText) {
    if (compressed.size() < 4) {
        fail(errorText, QStringLiteral("compressed image too short"));
        return std::nullopt;
    }
    const quint32 announced = qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(compressed.constData()));
    if (qint64(announced) != expectedSize || expectedSize > kMaxImagePixels) {
        fail(errorText, QStringLiteral("compressed image announces %1 bytes, expected %2")
                            .arg(announced)
                            .arg(expectedSize));
        return std::nullopt;
    }
    QByteArray out(qsizetype(expectedSize), Qt::Uninitialized);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        fail(errorText, QStringLiteral("cannot start inflating the image"));
        return std::nullopt;
    }
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData() + 4));
    z.avail_in = uInt(compressed.size() - 4);
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const qint64 produced = qint64(z.total_out);
    inflateEnd(&z);
    if (rc != Z_STREAM_END) {
        // Z_BUF_ERROR with a full buffer: the stream holds more than it announced.
        fail(errorText,
             rc == Z_BUF_ERROR && z.avail_out == 0
                 ? QStringLiteral("compressed image inflates to more than %1 bytes").arg(expectedSize)
                 : QStringLiteral("compressed image is damaged"));
        return std::nullopt;
    }
    if (produced != expectedSize) {
        fail(errorText,
             QStringLiteral("compressed image holds %1 bytes, expected %2").arg(produced).arg(expectedSize));
        return std::nullopt;
    }
    return out;
}

std::optional<DiscoveryAnswer> parseDiscoveryAnswer(const QByteArray& datagram, const QHostAddress& sender) {
    std::optional<DiscoveryAnswer> a = readDiscoveryAnswer(datagram, sender);
    if (!a || !a->nameProblem.isEmpty())
        return std::nullopt;
    return a;
}

std::optional<DiscoveryAnswer> readDiscoveryAnswer(const QByteArray& datagram, const QHostAddress& sender) {
    const QList<QByteArray> lines = datagram.split('\n');
    if (lines.isEmpty() || lines.first().trimmed() != "LUMIVEX READER 1")
        return std::nullopt;
    DiscoveryAnswer a;
    // The sender is where the reader is: an address written in the answer could
    // point anywhere, so it is not used.
    a.address = sender;
    auto port = [](const QString& value) -> quint16 {
        bool ok = false;
        const uint v = value.toUInt(&ok);
        return ok && v > 0 && v <= 65535 ? quint16(v) : 0;
    };
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString line = QString::fromUtf8(lines.at(i)).trimmed();
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq);
        const QString value = line.mid(eq + 1);
        if (key == QLatin1String("name"))
            a.name = value;
        else if (key == QLatin1String("command"))
            a.commandPort = port(value);
        else if (key == QLatin1String("data"))
            a.dataPort = port(value);
        else if (key == QLatin1String("version"))
            a.version = value.left(64);
        else if (key == QLatin1String("controller"))
            a.controller = value.left(256);
        else if (key == QLatin1String("mac"))
            a.mac = value.left(64);
        else if (key == QLatin1String("serial"))
            a.serial = value.left(1024);
    }
    if (a.commandPort == 0 || a.dataPort == 0 || a.address.isNull())
        return std::nullopt;
    a.nameProblem = readerNameProblem(a.name);
    if (!a.nameProblem.isEmpty())
        a.name.truncate(kMaxKeptRefusedName);
    return a;
}

std::optional<Record> parseRecordPayload(const QByteArray& payload, QString* errorText) {
    if (payload.size() < 4) {
        fail(errorText, QStringLiteral("record too short"));
        return std::nullopt;
    }
    const quint32 jsonLength =
        qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(payload.constData()));
    if (jsonLength > quint32(payload.size() - 4)) {
        fail(errorText, QStringLiteral("record header longer than the record"));
        return std::nullopt;
    }
    QJsonParseError perr;
    const QJsonDocument doc = QJsonDocument::fromJson(payload.mid(4, jsonLength), &perr);
    if (!doc.isObject()) {
        fail(errorText, QStringLiteral("record header is not a JSON object: ") + perr.errorString());
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    const QByteArray imageBytes = payload.mid(4 + jsonLength);

    Record r;
    r.m_passed = jsonBool(o, "passed");
    r.m_timeMs = jsonInt<qint64>(o, "time");
    r.m_result.m_symbolFound = jsonBool(o, "symbolFound");
    r.m_result.m_text = jsonText(o, "text");
    r.m_result.m_statusText = jsonText(o, "status");
    r.m_result.m_symbology = jsonText(o, "symbology");
    r.m_result.m_decodeMs = jsonNumber(o, "decodeMs");
    const QJsonArray corners = o.value(QLatin1String("corners")).toArray();
    if (corners.size() == 8) {
        for (int i = 0; i < 8; i += 2)
            r.m_result.m_corners.append(QPointF(corners.at(i).toDouble(), corners.at(i + 1).toDouble()));
    } else if (!corners.isEmpty()) {
        qCWarning(lcLink) << "record: ignoring corners with" << corners.size() << "values";
    }
    if (o.contains(QLatin1String("learnStatus")) && !o.value(QLatin1String("learnStatus")).isNull())
        r.m_learnStatus = jsonInt<int>(o, "learnStatus");
    if (o.value(QLatin1String("verification")).isObject())
        r.m_verification = parseVerification(o.value(QLatin1String("verification")).toObject());
    if (o.value(QLatin1String("calibration")).isObject())
        r.m_calibration = parseCalibration(o.value(QLatin1String("calibration")).toObject());
    r.m_match = jsonText(o, "match");

    const qint64 number = jsonInt<qint64>(o, "number");
    const int exposure = jsonInt<int>(o, "exposure");
    const int gain = jsonInt<int>(o, "gain");
    const bool photometryValid = jsonBool(o, "photometryValid");
    const QString kind = jsonText(o, "image");
    QImage image;
    if (kind == QLatin1String("raw") || kind == QLatin1String("zlib")) {
        const int width = jsonInt<int>(o, "width", -1);
        const int height = jsonInt<int>(o, "height", -1);
        if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide ||
            qint64(width) * height > kMaxImagePixels) {
            fail(errorText, QStringLiteral("record image has a bad size %1 x %2")
                                .arg(jsonText(o, "width"), jsonText(o, "height")));
            return std::nullopt;
        }
        QByteArray pixels = imageBytes;
        if (kind == QLatin1String("zlib")) {
            auto inflated = inflateBounded(imageBytes, qint64(width) * height, errorText);
            if (!inflated)
                return std::nullopt;
            pixels = std::move(*inflated);
        }
        if (pixels.size() != qsizetype(width) * height) {
            fail(errorText, QStringLiteral("record image holds %1 bytes, expected %2")
                                .arg(pixels.size())
                                .arg(qsizetype(width) * height));
            return std::nullopt;
        }
        image = QImage(width, height, QImage::Format_Grayscale8);
        for (int y = 0; y < height; ++y)
            memcpy(image.scanLine(y), pixels.constData() + qsizetype(y) * width, size_t(width));
    } else if (!kind.isEmpty() && kind != QLatin1String("none")) {
        fail(errorText, QStringLiteral("unknown record image kind \"%1\"").arg(kind));
        return std::nullopt;
    }
    r.m_image = RecordImage(image, number, exposure, gain, photometryValid);
    return r;
}

bool isDottedAddress(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& p : parts) {
        bool ok = false;
        const int v = p.toInt(&ok);
        if (!ok || v < 0 || v > 255 || p.trimmed() != p || p.isEmpty())
            return false;
    }
    return true;
}

} // namespace vm::link
