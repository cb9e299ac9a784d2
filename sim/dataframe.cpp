#include "sim/dataframe.h"

#include "sim/logging.h"

#include <QJsonDocument>
#include <QtEndian>

namespace vm::sim {

namespace {
const QByteArray kMagic("LVX1", 4);
}

QByteArray encodeFrame(FrameType type, const QByteArray& payload) {
    QByteArray out;
    out.reserve(kFrameHeaderSize + payload.size());
    out.append(kMagic);
    char header[8];
    qToLittleEndian<quint16>(quint16(type), header);
    qToLittleEndian<quint16>(0, header + 2);
    qToLittleEndian<quint32>(quint32(payload.size()), header + 4);
    out.append(header, 8);
    out.append(payload);
    return out;
}

QByteArray encodeJsonFrame(FrameType type, const QJsonObject& object) {
    return encodeFrame(type, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QList<Frame> FrameReader::feed(const QByteArray& bytes) {
    m_buffer.append(bytes);
    QList<Frame> out;
    qsizetype pos = 0;
    while (m_buffer.size() - pos >= kFrameHeaderSize) {
        if (m_buffer.mid(pos, 4) != kMagic) {
            const qsizetype next = m_buffer.indexOf(kMagic, pos + 1);
            const qsizetype skip = (next < 0 ? m_buffer.size() - 3 : next) - pos;
            m_dropped += int(skip);
            qCWarning(lcSim) << "data channel: dropped" << skip << "bytes without a frame header";
            pos += skip;
            continue;
        }
        const quint32 length = qFromLittleEndian<quint32>(m_buffer.constData() + pos + 8);
        if (length > kMaxFramePayload) {
            qCWarning(lcSim) << "data channel: frame of" << length << "bytes refused";
            m_dropped += 4;
            pos += 4;
            continue;
        }
        if (m_buffer.size() - pos < kFrameHeaderSize + qsizetype(length))
            break;
        Frame f;
        f.type = FrameType(qFromLittleEndian<quint16>(m_buffer.constData() + pos + 4));
        f.payload = m_buffer.mid(pos + kFrameHeaderSize, length);
        out << f;
        pos += kFrameHeaderSize + length;
    }
    if (pos > 0)
        m_buffer.remove(0, pos);
    return out;
}

} // namespace vm::sim
