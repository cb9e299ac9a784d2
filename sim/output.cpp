#include "sim/output.h"

#include "sim/dataframe.h"
#include "sim/logging.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace vm::sim {

namespace {

// A client of an output port only listens; what it sends is read and dropped, at most this
// much at a time.
constexpr qint64 kClientReadChunk = 4096;

QString unquote(const QString& field) {
    if (field.size() >= 2 && field.startsWith(QLatin1Char('"')) && field.endsWith(QLatin1Char('"')))
        return field.mid(1, field.size() - 2);
    return field;
}

QByteArray hexOf(const QByteArray& bytes) {
    return bytes.toHex().toUpper();
}

int hexDigit(QChar c) {
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

int angleOf(const QList<QPointF>& corners) {
    const double a = std::atan2(corners[1].y() - corners[0].y(), corners[1].x() - corners[0].x());
    const int degrees = int(std::lround(a * 180.0 / M_PI));
    return ((degrees % 360) + 360) % 360;
}

// A numeric grade of the letter grades: A 4.0 down to F 0.0.
QByteArray numericGrade(const QString& letter) {
    static const QString letters = QStringLiteral("FDCBA");
    const qsizetype i = letters.indexOf(letter.left(1).toUpper());
    if (letter.isEmpty() || i < 0)
        return {};
    return QByteArray::number(double(i), 'f', 1);
}

QByteArray verificationClass(const QJsonObject& v) {
    if (v.isEmpty())
        return {};
    static const char* names[] = {"FAILED", "POOR", "FAIR", "GOOD"};
    const int code = std::clamp(v.value(QStringLiteral("gradeCode")).toInt(), 0, 3);
    return names[code];
}

QByteArray verificationDetail(const QJsonObject& v, bool formatted) {
    QByteArray out;
    const QJsonArray parameters = v.value(QStringLiteral("parameters")).toArray();
    for (const QJsonValue& p : parameters) {
        const QJsonObject o = p.toObject();
        const QByteArray name = o.value(QStringLiteral("name")).toString().toUtf8();
        const QByteArray grade = o.value(QStringLiteral("grade")).toString().toUtf8();
        if (formatted) {
            out += name + ": " + o.value(QStringLiteral("value")).toString().toUtf8() + ' ' + grade + "\r\n";
        } else {
            if (!out.isEmpty())
                out += ',';
            out += name + '=' + grade;
        }
    }
    if (formatted && !v.isEmpty())
        out += "Overall: " + v.value(QStringLiteral("overallGrade")).toString().toUtf8() + "\r\n";
    return out;
}

// The data identifiers of a text in the ISO/IEC 15434 format 06 envelope
// ("[)>" RS "06" GS ... RS EOT), in the order they appear; empty for any other text.
QList<QPair<QByteArray, QByteArray>> dataIdentifiers(const QByteArray& data) {
    QList<QPair<QByteArray, QByteArray>> out;
    static const QByteArray envelope = QByteArrayLiteral("[)>\x1e"
                                                         "06\x1d");
    if (!data.startsWith(envelope))
        return out;
    QByteArray body = data.mid(envelope.size());
    const qsizetype end = body.indexOf('\x1e');
    if (end >= 0)
        body.truncate(end);
    for (const QByteArray& element : body.split('\x1d')) {
        // A data identifier is up to three digits followed by one upper-case letter.
        qsizetype i = 0;
        while (i < element.size() && i < 3 && element[i] >= '0' && element[i] <= '9')
            ++i;
        if (i < element.size() && element[i] >= 'A' && element[i] <= 'Z')
            out.append({element.left(i + 1), element.mid(i + 1)});
    }
    return out;
}

// The unique item identifier: "25S" whole, or the enterprise ("18V", "17V", "12V") followed
// by the part number ("1P", construct 2) when there is one and the serial number ("S").
QByteArray uniqueItemIdentifier(const QList<QPair<QByteArray, QByteArray>>& ids) {
    QByteArray enterprise, part, serial;
    for (const auto& [di, value] : ids) {
        if (di == "25S")
            return value;
        if ((di == "18V" || di == "17V" || di == "12V") && enterprise.isEmpty())
            enterprise = value;
        else if (di == "1P")
            part = value;
        else if (di == "S")
            serial = value;
    }
    if (enterprise.isEmpty() || serial.isEmpty())
        return {};
    return enterprise + part + serial;
}

QByteArray decimal(quint64 n) {
    return QByteArray::number(n);
}

enum Keyword : int {
    kData,
    kDataHex,
    kPid,
    kTimeStamp,
    kDetailed,
    kVeriGrade,
    kVeriDetail,
    kVeriFormatted,
    kVeriStatus,
    kVeri1Iaqg,
    kVeriAimDpm,
    kAngle,
    kChecksum,
    kMatchIndex,
    kUiiOnly,
    kUiiWithInfo,
    kFirstCycleData, // CD00 to CD25 follow
    kImageBitmap = kFirstCycleData + 26,
    kImageTiff,
    kKeywordCount
};

const QStringList& keywordTable() {
    static const QStringList table = [] {
        QStringList t = {"(DATA)",        "(DATAHEX)",     "(PID#)",        "(TIMESTAMP)",
                         "(DETAILED)",    "(VERI_GRADE)",  "(VERI_DETAIL)", "(VERI_FORMATTED)",
                         "(VERI_STATUS)", "(VERI_1_IAQG)", "(VERI_AIMDPM)", "(ANGLE)",
                         "(CHECKSUM)",    "(MATCH_INDEX)", "(UII_ONLY)",    "(UII_WITH_INFO)"};
        for (int i = 0; i < 26; ++i)
            t << QStringLiteral("(CD%1)").arg(i, 2, 10, QLatin1Char('0'));
        t << QStringLiteral("(ID01)") << QStringLiteral("(ID02)");
        return t;
    }();
    return table;
}

// The keyword that starts at `pos` (a "("), or -1. Keywords are short and end at the
// first ")", so one hash look-up of that stretch, upper-cased, finds it.
int keywordAt(const QString& format, qsizetype pos) {
    static const QHash<QString, int> index = [] {
        QHash<QString, int> h;
        const QStringList& table = keywordTable();
        for (int k = 0; k < table.size(); ++k)
            h.insert(table[k], k);
        return h;
    }();
    static const qsizetype longest = [] {
        qsizetype n = 0;
        for (const QString& k : keywordTable())
            n = std::max(n, k.size());
        return n;
    }();
    const qsizetype close = format.indexOf(QLatin1Char(')'), pos + 1);
    if (close < 0 || close - pos + 1 > longest)
        return -1;
    return index.value(QStringView(format).mid(pos, close - pos + 1).toString().toUpper(), -1);
}

QByteArray cycleData(int field, FormatContext& c);

QByteArray allCycleData(FormatContext& c) {
    QByteArray out;
    for (int field = 1; field <= 24; ++field) {
        if (field > 1)
            out += ',';
        out += cycleData(field, c);
    }
    return out;
}

QByteArray cycleData(int field, FormatContext& c) {
    const CycleOutput& o = c.output();
    const OutputCounters& n = c.counters();
    switch (field) {
    case 0:
        return allCycleData(c);
    case 1:
        return o.passed ? "PASS" : "FAIL";
    case 2:
        return decimal(n.triggers);
    case 3:
        return decimal(n.passes);
    case 4:
        return decimal(n.fails);
    case 5:
        return decimal(n.locates);
    case 6:
        return decimal(n.locateFails);
    case 7:
        return decimal(n.decodes);
    case 8:
        return decimal(n.decodeFails);
    case 9:
        return decimal(n.matches);
    case 10:
        return decimal(n.matchFails);
    case 11:
        return decimal(n.alarms);
    case 12:
        return decimal(n.triggerOverruns);
    case 13:
        return decimal(n.decodeOverruns);
    case 14:
        return decimal(n.acquisitionTimeouts);
    case 15:
        return QByteArray::number(o.pid);
    case 16:
        return o.symbolFound ? "PASS" : "FAIL";
    case 17:
        return o.located || o.symbolFound ? "LOCATED" : "NOT LOCATED";
    case 18:
        return o.symbolFound ? "DECODED" : "NOT DECODED";
    case 19:
        return o.match.isEmpty() ? "MATCH OFF" : o.match == QLatin1String("PASS") ? "MATCHED" : "NOT MATCHED";
    case 20:
        return o.symbolFound && !o.timedOut ? QByteArray() : o.status.toUtf8();
    case 21:
        return o.verification.value(QStringLiteral("overallGrade")).toString().toUtf8();
    case 22:
        return o.text.toUtf8();
    case 23:
        return QByteArray::number(o.exposure) + ',' + QByteArray::number(o.gain);
    case 24:
        return c.timeStamp();
    case 25:
        return c.rawImage();
    default:
        return {};
    }
}

QByteArray keywordValue(int k, FormatContext& c, const QByteArray& before) {
    const CycleOutput& o = c.output();
    const QJsonObject& v = o.verification;
    switch (k) {
    case kData:
        return c.hexData() ? hexOf(o.text.toUtf8()) : o.text.toUtf8();
    case kDataHex:
        return hexOf(o.text.toUtf8());
    case kPid:
        return QByteArray::number(o.pid);
    case kTimeStamp:
        return c.timeStamp();
    case kDetailed:
        return o.status.toUtf8();
    case kVeriGrade:
        return v.value(QStringLiteral("overallGrade")).toString().toUtf8();
    case kVeriDetail:
        return verificationDetail(v, false);
    case kVeriFormatted:
        return verificationDetail(v, true);
    case kVeriStatus:
        return verificationClass(v);
    case kVeri1Iaqg:
        return numericGrade(v.value(QStringLiteral("overallGrade")).toString());
    case kVeriAimDpm:
        if (v.isEmpty())
            return {};
        return v.value(QStringLiteral("standard")).toString().toUtf8() + ' ' +
               v.value(QStringLiteral("overallGrade")).toString().toUtf8();
    case kAngle:
        return o.symbolFound && o.corners.size() >= 2 ? QByteArray::number(angleOf(o.corners)) : QByteArray();
    case kChecksum: {
        quint8 x = 0;
        for (char ch : before)
            x ^= quint8(ch);
        return QByteArray::number(x, 16).rightJustified(2, '0').toUpper();
    }
    case kMatchIndex:
        return QByteArray::number(o.matchEntry);
    case kUiiOnly:
        return uniqueItemIdentifier(dataIdentifiers(o.text.toUtf8()));
    case kUiiWithInfo: {
        const auto ids = dataIdentifiers(o.text.toUtf8());
        const QByteArray uii = uniqueItemIdentifier(ids);
        if (uii.isEmpty())
            return {};
        QByteArray out = "UII " + uii;
        for (const auto& [di, value] : ids)
            out += ';' + di + ' ' + value;
        return out;
    }
    case kImageBitmap:
        return c.bitmap();
    case kImageTiff:
        return c.tiff();
    default:
        if (k >= kFirstCycleData && k < kFirstCycleData + 26)
            return cycleData(k - kFirstCycleData, c);
        return {};
    }
}

void putLe16(QByteArray& b, qsizetype at, quint16 v) {
    qToLittleEndian<quint16>(v, b.data() + at);
}
void putLe32(QByteArray& b, qsizetype at, quint32 v) {
    qToLittleEndian<quint32>(v, b.data() + at);
}

QImage grey(const QImage& image) {
    return image.format() == QImage::Format_Grayscale8 ? image
                                                       : image.convertToFormat(QImage::Format_Grayscale8);
}

} // namespace

QString eventWord(OutputEvent event) {
    static const char* words[] = {"OKDEC", "DECFL", "LOCFL", "OKMATCH", "MATCHFL", "RTE"};
    return QLatin1String(words[int(event)]);
}

QList<OutputEvent> cycleEvents(const CycleOutput& out) {
    QList<OutputEvent> events;
    if (out.timedOut)
        events << OutputEvent::Error;
    else if (out.symbolFound)
        events << OutputEvent::DecodePass;
    else if (out.located)
        events << OutputEvent::DecodeFail;
    else
        events << OutputEvent::LocateFail;
    if (out.symbolFound && !out.timedOut && !out.match.isEmpty())
        events << (out.match == QLatin1String("PASS") ? OutputEvent::MatchPass : OutputEvent::MatchFail);
    return events;
}

const QStringList& formatKeywords() {
    return keywordTable();
}

FormatContext::FormatContext(const CycleOutput& out, qint64 number, qint64 timeMs,
                             const OutputCounters& counters, bool hexData)
    : m_out(out)
    , m_number(number)
    , m_timeMs(timeMs)
    , m_counters(counters)
    , m_hexData(hexData) {}

const QByteArray& FormatContext::bitmap() {
    if (m_bitmap.isEmpty() && !m_out.image.isNull())
        m_bitmap = greyBitmap(m_out.image);
    return m_bitmap;
}

const QByteArray& FormatContext::tiff() {
    if (m_tiff.isEmpty() && !m_out.image.isNull())
        m_tiff = greyTiff(m_out.image);
    return m_tiff;
}

const QByteArray& FormatContext::rawImage() {
    if (m_raw.isEmpty() && !m_out.image.isNull()) {
        const QImage g = grey(m_out.image);
        m_raw.resize(qsizetype(g.width()) * g.height());
        for (int y = 0; y < g.height(); ++y)
            memcpy(m_raw.data() + qsizetype(y) * g.width(), g.constScanLine(y), g.width());
    }
    return m_raw;
}

const QByteArray& FormatContext::timeStamp() {
    if (m_timeStamp.isEmpty())
        m_timeStamp = QDateTime::fromMSecsSinceEpoch(m_timeMs)
                          .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"))
                          .toLatin1();
    return m_timeStamp;
}

QByteArray expandFormat(const QString& format, FormatContext& context, bool cycleData) {
    QByteArray out;
    out.reserve(format.size() + 32);
    qsizetype literalStart = 0;
    auto flush = [&](qsizetype end) {
        if (end > literalStart)
            out += QStringView(format).mid(literalStart, end - literalStart).toUtf8();
    };
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('\\') && i + 2 < format.size() && hexDigit(format.at(i + 1)) >= 0 &&
            hexDigit(format.at(i + 2)) >= 0) {
            flush(i);
            out += char(hexDigit(format.at(i + 1)) * 16 + hexDigit(format.at(i + 2)));
            i += 3;
            literalStart = i;
            continue;
        }
        if (c == QLatin1Char('(')) {
            const int k = keywordAt(format, i);
            if (k >= 0) {
                flush(i);
                if (cycleData || k < kFirstCycleData)
                    out += keywordValue(k, context, out);
                i += keywordTable()[k].size();
                literalStart = i;
                continue;
            }
        }
        ++i;
    }
    flush(format.size());
    return out;
}

QByteArray greyBitmap(const QImage& image) {
    const QImage g = grey(image);
    const int w = g.width(), h = g.height();
    const int stride = (w + 3) & ~3;
    const quint32 offset = 14 + 40 + 256 * 4;
    QByteArray b(offset + qsizetype(stride) * h, '\0');
    b[0] = 'B';
    b[1] = 'M';
    putLe32(b, 2, quint32(b.size()));
    putLe32(b, 10, offset);
    putLe32(b, 14, 40);
    putLe32(b, 18, quint32(w));
    putLe32(b, 22, quint32(h));
    putLe16(b, 26, 1);
    putLe16(b, 28, 8);
    putLe32(b, 34, quint32(stride) * h);
    putLe32(b, 46, 256);
    for (int i = 0; i < 256; ++i) {
        char* entry = b.data() + 54 + i * 4;
        entry[0] = entry[1] = entry[2] = char(i);
    }
    for (int y = 0; y < h; ++y)
        memcpy(b.data() + offset + qsizetype(h - 1 - y) * stride, g.constScanLine(y), w);
    return b;
}

QByteArray greyTiff(const QImage& image) {
    const QImage g = grey(image);
    const int w = g.width(), h = g.height();
    struct Entry {
        quint16 tag, type;
        quint32 count, value;
    };
    const quint32 pixels = quint32(w) * quint32(h);
    const quint32 ifdOffset = 8 + pixels + (pixels & 1); // the IFD starts on a word boundary
    const Entry entries[] = {
        {256, 4, 1, quint32(w)}, // ImageWidth
        {257, 4, 1, quint32(h)}, // ImageLength
        {258, 3, 1, 8},          // BitsPerSample
        {259, 3, 1, 1},          // Compression: none
        {262, 3, 1, 1},          // PhotometricInterpretation: black is zero
        {273, 4, 1, 8},          // StripOffsets
        {277, 3, 1, 1},          // SamplesPerPixel
        {278, 4, 1, quint32(h)}, // RowsPerStrip
        {279, 4, 1, pixels},     // StripByteCounts
    };
    const int count = int(std::size(entries));
    QByteArray b(ifdOffset + 2 + count * 12 + 4, '\0');
    b[0] = 'I';
    b[1] = 'I';
    putLe16(b, 2, 42);
    putLe32(b, 4, ifdOffset);
    for (int y = 0; y < h; ++y)
        memcpy(b.data() + 8 + qsizetype(y) * w, g.constScanLine(y), w);
    putLe16(b, ifdOffset, quint16(count));
    for (int i = 0; i < count; ++i) {
        const qsizetype at = ifdOffset + 2 + i * 12;
        putLe16(b, at, entries[i].tag);
        putLe16(b, at + 2, entries[i].type);
        putLe32(b, at + 4, entries[i].count);
        if (entries[i].type == 3)
            putLe16(b, at + 8, quint16(entries[i].value));
        else
            putLe32(b, at + 8, entries[i].value);
    }
    return b;
}

// ---------------------------------------------------------------------------------------------

const QStringList& OutputPorts::portWords() {
    static const QStringList words = {"STANDARD", "TCP1", "TCP2", "TCP3", "TCP4"};
    return words;
}

OutputPorts::OutputPorts(QObject* parent)
    : QObject(parent) {}

OutputPorts::~OutputPorts() {
    close();
}

bool OutputPorts::listen(const QHostAddress& address, quint16 firstPort, QString* error) {
    for (int i = 0; i < kTcpPorts; ++i) {
        Port& p = m_ports[i];
        if (p.server)
            continue;
        p.server = std::make_unique<QTcpServer>();
        p.server->setMaxPendingConnections(kMaxClientsPerChannel);
        const quint16 wanted = p.bound ? p.bound : firstPort == 0 ? 0 : quint16(firstPort + i);
        if (!p.server->listen(address, wanted)) {
            if (error)
                *error = QStringLiteral("output port TCP%1 %2:%3: %4")
                             .arg(i + 1)
                             .arg(address.toString())
                             .arg(wanted)
                             .arg(p.server->errorString());
            close();
            return false;
        }
        p.bound = p.server->serverPort();
        connect(p.server.get(), &QTcpServer::newConnection, this, [this, i] { accept(i); });
    }
    return true;
}

QList<QTcpServer*> OutputPorts::servers() const {
    QList<QTcpServer*> list;
    for (const Port& p : m_ports)
        if (p.server)
            list << p.server.get();
    return list;
}

void OutputPorts::close() {
    dropClients();
    for (Port& p : m_ports)
        p.server.reset();
}

void OutputPorts::dropClients() {
    for (Port& p : m_ports) {
        auto clients = std::move(p.clients);
        p.clients.clear();
        for (QTcpSocket* s : clients) {
            s->disconnect(this);
            s->abort();
            s->deleteLater();
        }
    }
}

quint16 OutputPorts::port(int n) const {
    if (n < 1 || n > kTcpPorts || !m_ports[n - 1].server)
        return 0;
    return m_ports[n - 1].bound;
}

int OutputPorts::clients(int n) const {
    if (n < 1 || n > kTcpPorts)
        return 0;
    return int(m_ports[n - 1].clients.size());
}

QStringList OutputPorts::stateLines() const {
    return {QStringLiteral("output tcp1=%1 tcp2=%2 tcp3=%3 tcp4=%4 clients=%5,%6,%7,%8 reports=%9")
                .arg(port(1))
                .arg(port(2))
                .arg(port(3))
                .arg(port(4))
                .arg(clients(1))
                .arg(clients(2))
                .arg(clients(3))
                .arg(clients(4))
                .arg(m_reports),
            QStringLiteral("beeps=%1").arg(m_beeps)};
}

void OutputPorts::accept(int index) {
    Port& p = m_ports[index];
    while (QTcpSocket* s = p.server->nextPendingConnection()) {
        if (int(p.clients.size()) >= kMaxClientsPerChannel) {
            s->abort();
            s->deleteLater();
            continue;
        }
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        p.clients.push_back(s);
        connect(s, &QTcpSocket::readyRead, s, [s] {
            while (s->bytesAvailable() > 0)
                s->read(kClientReadChunk);
        });
        connect(s, &QTcpSocket::disconnected, this, [this, index, s] {
            auto& list = m_ports[index].clients;
            list.erase(std::remove(list.begin(), list.end(), s), list.end());
            s->deleteLater();
            emit clientsChanged();
        });
        emit clientsChanged();
    }
}

int OutputPorts::totalClients() const {
    int n = 0;
    for (const Port& p : m_ports)
        n += int(p.clients.size());
    return n;
}

void OutputPorts::send(int portIndex, const QByteArray& bytes) {
    if (portIndex == 0) {
        if (m_standard)
            m_standard(bytes);
        return;
    }
    for (QTcpSocket* s : m_ports[portIndex - 1].clients) {
        if (s->state() != QAbstractSocket::ConnectedState)
            continue;
        // A client that does not read misses reports rather than growing the reader's memory.
        if (s->bytesToWrite() > kMaxPendingDataBytes)
            continue;
        s->write(bytes);
    }
}

QByteArray OutputPorts::composeReport(const ParameterSource& parameters, const QString& port,
                                      OutputEvent event, FormatContext& context, bool* enabled) {
    const QString word = eventWord(event);
    const bool cycleData = port != QLatin1String("STANDARD");
    QString format, header, trailer;
    int fixed = 0;
    if (parameters.firmwareLevel() >= 3) {
        const QString prefix = QStringLiteral("OUTPUT ") + port + QLatin1Char(' ');
        const QStringList f = parameters.fields(prefix + word);
        if (enabled)
            *enabled = f.value(0).toUpper() == QLatin1String("Y");
        if (f.value(0).toUpper() != QLatin1String("Y"))
            return {};
        format = unquote(f.value(1));
        const QString use = f.value(2).toUpper();
        const QStringList ht = parameters.fields(prefix + QStringLiteral("H_T"));
        if (use == QLatin1String("H") || use == QLatin1String("H_T"))
            header = unquote(ht.value(0));
        if (use == QLatin1String("T") || use == QLatin1String("H_T"))
            trailer = unquote(ht.value(1));
        fixed = parameters.fields(prefix + QStringLiteral("FIXED")).value(0).toInt();
    } else {
        // Older readers: one report per event, the same on every port, with the common header
        // and trailer.
        const QStringList f = parameters.fields(word);
        if (enabled)
            *enabled = f.value(0).toUpper() == QLatin1String("Y");
        if (f.value(0).toUpper() != QLatin1String("Y"))
            return {};
        format = unquote(f.value(1));
        if (f.value(2).toUpper() == QLatin1String("Y"))
            header = unquote(parameters.fields(QStringLiteral("HEADER")).value(0));
        if (f.value(3).toUpper() == QLatin1String("Y"))
            trailer = unquote(parameters.fields(QStringLiteral("TRAILER")).value(0));
    }
    QByteArray report = expandFormat(header, context, cycleData);
    report += expandFormat(format, context, cycleData);
    report += expandFormat(trailer, context, cycleData);
    // A fixed buffer (for a programmable controller) always gets exactly that many bytes.
    if (fixed > 1) {
        if (report.size() > fixed)
            report.truncate(fixed);
        else
            report.append(fixed - report.size(), ' ');
    }
    return report;
}

void OutputPorts::count(const CycleOutput& out, quint64 triggers, quint64 triggerOverruns, quint64 timeouts) {
    OutputCounters& n = m_counters;
    n.triggers = triggers;
    n.triggerOverruns = triggerOverruns;
    n.decodeOverruns = timeouts;
    ++(out.passed ? n.passes : n.fails);
    ++(out.located || out.symbolFound ? n.locates : n.locateFails);
    ++(out.symbolFound ? n.decodes : n.decodeFails);
    if (out.symbolFound && !out.match.isEmpty())
        ++(out.match == QLatin1String("PASS") ? n.matches : n.matchFails);
    if (out.timedOut)
        ++n.alarms;
    if (!out.symbolFound && out.attempts > 1)
        ++n.acquisitionTimeouts;
}

void OutputPorts::beep(const ParameterSource& parameters, const QList<OutputEvent>& events) {
    if (parameters.fields(QStringLiteral("BEEP")).value(0).toUpper() != QLatin1String("Y"))
        return;
    for (OutputEvent e : events) {
        const int count = parameters.firmwareLevel() >= 3
                              ? parameters.fields(QStringLiteral("OUTPUT BEEP")).value(int(e)).toInt()
                              : parameters.fields(eventWord(e)).value(4).toInt();
        if (count <= 0)
            continue;
        m_beeps += quint64(count);
        emit beeped(eventWord(e), count);
    }
}

void OutputPorts::cycleFinished(const ParameterSource& parameters, const CycleOutput& out, qint64 number,
                                qint64 timeMs, quint64 triggers, quint64 triggerOverruns, quint64 timeouts) {
    count(out, triggers, triggerOverruns, timeouts);
    const QList<OutputEvent> events = cycleEvents(out);
    beep(parameters, events);

    bool listened = bool(m_standard);
    for (const Port& p : m_ports)
        listened = listened || !p.clients.empty();
    if (!listened)
        return; // nobody would receive the reports: nothing to build
    const bool hex =
        parameters.fields(QStringLiteral("OUTPUT FORMAT")).value(0).toUpper() == QLatin1String("HEX");
    FormatContext context(out, number, timeMs, m_counters, hex);
    const QStringList& ports = portWords();
    for (OutputEvent e : events) {
        for (int i = 0; i < ports.size(); ++i) {
            if (i == 0 ? !m_standard : m_ports[i - 1].clients.empty())
                continue;
            bool enabled = false;
            const QByteArray report = composeReport(parameters, ports[i], e, context, &enabled);
            if (!enabled || report.isEmpty())
                continue;
            send(i, report);
            ++m_reports;
        }
    }
}

} // namespace vm::sim
