#include "io/outputpreview.h"

#include "link/record.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <cmath>

namespace vm::io {

namespace {

// A value the record does not carry: shown by name, never made up.
// Private-use characters mark it, so that no byte of the report can pass for the brackets.
constexpr char16_t kOpenMark = 0xE000;
constexpr char16_t kCloseMark = 0xE001;
QByteArray unknown(const char* what) {
    return (QString(QChar(kOpenMark)) + QLatin1String(what) + QChar(kCloseMark)).toUtf8();
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

QByteArray timeStamp(const vm::link::Record& r) {
    return QDateTime::fromMSecsSinceEpoch(r.TimeMs())
        .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"))
        .toLatin1();
}

QByteArray overallGrade(const vm::link::Record& r) {
    return r.HasVerification() ? r.Verification()->overallGrade.toUtf8() : QByteArray();
}

QByteArray verificationDetail(const vm::link::Record& r, bool formatted) {
    if (!r.HasVerification())
        return {};
    QByteArray out;
    for (const vm::link::VerificationParameter& p : r.Verification()->parameters) {
        if (formatted) {
            out += p.name.toUtf8() + ": " + p.value.toUtf8() + ' ' + p.grade.toUtf8() + "\r\n";
        } else {
            if (!out.isEmpty())
                out += ',';
            out += p.name.toUtf8() + '=' + p.grade.toUtf8();
        }
    }
    if (formatted)
        out += "Overall: " + overallGrade(r) + "\r\n";
    return out;
}

QByteArray uii(const QByteArray& data, bool withInfo) {
    static const QByteArray envelope = QByteArrayLiteral("[)>\x1e"
                                                         "06\x1d");
    if (!data.startsWith(envelope))
        return {};
    QByteArray body = data.mid(envelope.size());
    const qsizetype end = body.indexOf('\x1e');
    if (end >= 0)
        body.truncate(end);
    QList<QPair<QByteArray, QByteArray>> ids;
    for (const QByteArray& element : body.split('\x1d')) {
        qsizetype i = 0;
        while (i < element.size() && i < 3 && element[i] >= '0' && element[i] <= '9')
            ++i;
        if (i < element.size() && element[i] >= 'A' && element[i] <= 'Z')
            ids.append({element.left(i + 1), element.mid(i + 1)});
    }
    QByteArray whole, enterprise, part, serial;
    for (const auto& [di, value] : ids) {
        if (di == "25S")
            whole = value;
        else if ((di == "18V" || di == "17V" || di == "12V") && enterprise.isEmpty())
            enterprise = value;
        else if (di == "1P")
            part = value;
        else if (di == "S")
            serial = value;
    }
    const QByteArray id = !whole.isEmpty()                           ? whole
                          : enterprise.isEmpty() || serial.isEmpty() ? QByteArray()
                                                                     : enterprise + part + serial;
    if (!withInfo || id.isEmpty())
        return id;
    QByteArray out = "UII " + id;
    for (const auto& [di, value] : ids)
        out += ';' + di + ' ' + value;
    return out;
}

const char* const kCounterNames[] = {"count of triggers",
                                     "count of passes",
                                     "count of failures",
                                     "count of successful locates",
                                     "count of failed locates",
                                     "count of successful decodes",
                                     "count of failed decodes",
                                     "count of successful matches",
                                     "count of failed matches",
                                     "count of alarms",
                                     "count of trigger overruns",
                                     "count of decode overruns",
                                     "count of acquisition timeouts"};

QByteArray cycleData(int field, const vm::link::Record& r) {
    const vm::link::RecordResult& res = r.Result();
    switch (field) {
    case 0: {
        QByteArray out;
        for (int f = 1; f <= 24; ++f) {
            if (f > 1)
                out += ',';
            out += cycleData(f, r);
        }
        return out;
    }
    case 1:
        return r.Passed() ? "PASS" : "FAIL";
    case 15:
        return unknown("PID");
    case 16:
        return res.SymbolFound() ? "PASS" : "FAIL";
    case 17:
        return res.SymbolFound() ? "LOCATED" : unknown("located or not");
    case 18:
        return res.SymbolFound() ? "DECODED" : "NOT DECODED";
    case 19:
        return r.Match().isEmpty()                  ? "MATCH OFF"
               : r.Match() == QLatin1String("PASS") ? "MATCHED"
                                                    : "NOT MATCHED";
    case 20:
        return res.SymbolFound() ? QByteArray() : res.StatusText().toUtf8();
    case 21:
        return overallGrade(r);
    case 22:
        return res.Text().toUtf8();
    case 23:
        return QByteArray::number(r.Image().Exposure()) + ',' + QByteArray::number(r.Image().Gain());
    case 24:
        return timeStamp(r);
    case 25:
        return unknown("raw image");
    default:
        if (field >= 2 && field <= 14)
            return unknown(kCounterNames[field - 2]);
        return {};
    }
}

QByteArray keyword(const QString& k, const vm::link::Record& r, const QByteArray& before, bool cycleDataOn,
                   bool hexData) {
    const vm::link::RecordResult& res = r.Result();
    const QByteArray data = res.Text().toUtf8();
    if (k == QLatin1String("(DATA)"))
        return hexData ? data.toHex().toUpper() : data;
    if (k == QLatin1String("(DATAHEX)"))
        return data.toHex().toUpper();
    if (k == QLatin1String("(PID#)"))
        return unknown("PID");
    if (k == QLatin1String("(TIMESTAMP)"))
        return timeStamp(r);
    if (k == QLatin1String("(DETAILED)"))
        return res.StatusText().toUtf8();
    if (k == QLatin1String("(VERI_GRADE)"))
        return overallGrade(r);
    if (k == QLatin1String("(VERI_DETAIL)"))
        return verificationDetail(r, false);
    if (k == QLatin1String("(VERI_FORMATTED)"))
        return verificationDetail(r, true);
    if (k == QLatin1String("(VERI_STATUS)")) {
        static const char* names[] = {"FAILED", "POOR", "FAIR", "GOOD"};
        return r.HasVerification() ? QByteArray(names[std::clamp(r.Verification()->gradeCode, 0, 3)])
                                   : QByteArray();
    }
    if (k == QLatin1String("(VERI_1_IAQG)")) {
        const qsizetype i = QStringLiteral("FDCBA").indexOf(QString::fromUtf8(overallGrade(r).left(1)));
        return overallGrade(r).isEmpty() || i < 0 ? QByteArray() : QByteArray::number(double(i), 'f', 1);
    }
    if (k == QLatin1String("(VERI_AIMDPM)"))
        return r.HasVerification() ? r.Verification()->standard.toUtf8() + ' ' + overallGrade(r)
                                   : QByteArray();
    if (k == QLatin1String("(ANGLE)")) {
        const QList<QPointF>& c = res.Corners();
        if (!res.SymbolFound() || c.size() < 2)
            return {};
        const int degrees =
            int(std::lround(std::atan2(c[1].y() - c[0].y(), c[1].x() - c[0].x()) * 180.0 / M_PI));
        return QByteArray::number(((degrees % 360) + 360) % 360);
    }
    if (k == QLatin1String("(CHECKSUM)")) {
        quint8 x = 0;
        for (char ch : before)
            x ^= quint8(ch);
        return QByteArray::number(x, 16).rightJustified(2, '0').toUpper();
    }
    if (k == QLatin1String("(MATCH_INDEX)"))
        return unknown("match index");
    if (k == QLatin1String("(UII_ONLY)"))
        return uii(data, false);
    if (k == QLatin1String("(UII_WITH_INFO)"))
        return uii(data, true);
    if (!cycleDataOn)
        return {};
    if (k == QLatin1String("(ID01)"))
        return unknown("image as BMP");
    if (k == QLatin1String("(ID02)"))
        return unknown("image as TIFF");
    return cycleData(k.mid(3, 2).toInt(), r);
}

const QStringList& keywords() {
    static const QStringList list = [] {
        QStringList l = {"(DATA)",        "(DATAHEX)",     "(PID#)",        "(TIMESTAMP)",
                         "(DETAILED)",    "(VERI_GRADE)",  "(VERI_DETAIL)", "(VERI_FORMATTED)",
                         "(VERI_STATUS)", "(VERI_1_IAQG)", "(VERI_AIMDPM)", "(ANGLE)",
                         "(CHECKSUM)",    "(MATCH_INDEX)", "(UII_ONLY)",    "(UII_WITH_INFO)",
                         "(ID01)",        "(ID02)"};
        for (int i = 0; i < 26; ++i)
            l << QStringLiteral("(CD%1)").arg(i, 2, 10, QLatin1Char('0'));
        return l;
    }();
    return list;
}

} // namespace

QString previewFormat(const QString& format, const vm::link::Record& record, bool cycleData, bool hexData) {
    QByteArray out;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('\\') && i + 2 < format.size() && hexDigit(format.at(i + 1)) >= 0 &&
            hexDigit(format.at(i + 2)) >= 0) {
            out += char(hexDigit(format.at(i + 1)) * 16 + hexDigit(format.at(i + 2)));
            i += 3;
            continue;
        }
        if (c == QLatin1Char('(')) {
            bool matched = false;
            for (const QString& k : keywords()) {
                if (QStringView(format).mid(i, k.size()).compare(k, Qt::CaseInsensitive) == 0) {
                    out += keyword(k, record, out, cycleData, hexData);
                    i += k.size();
                    matched = true;
                    break;
                }
            }
            if (matched)
                continue;
        }
        out += QString(c).toUtf8();
        ++i;
    }
    return visibleText(out);
}

QString visibleText(const QByteArray& bytes) {
    QString out;
    const QString text = QString::fromUtf8(bytes);
    for (QChar c : text) {
        const ushort u = c.unicode();
        if (u == kOpenMark)
            out += QStringLiteral("«");
        else if (u == kCloseMark)
            out += QStringLiteral("»");
        else if (u == '\r')
            out += QStringLiteral("<CR>");
        else if (u == '\n')
            out += QStringLiteral("<LF>");
        else if (u == '\t')
            out += QStringLiteral("<TAB>");
        else if (u < 0x20 || u == 0x7f)
            out += QStringLiteral("<%1>").arg(u, 2, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    return out;
}

} // namespace vm::io
