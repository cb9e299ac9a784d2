#pragma once

// A station's clients of the simulated reader's ports, as tests/sim uses them: the command
// port (lines out, reply lines back) and the data port (records and events).

#include "common/waits.h"
#include "sim/dataframe.h"
#include "sim/reader.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QtEndian>

namespace vm::testing {

// The JSON of a record frame; its image bytes in *image.
inline QJsonObject recordJson(const sim::Frame& f, QByteArray* image = nullptr) {
    const quint32 len = qFromLittleEndian<quint32>(f.payload.constData());
    if (image)
        *image = f.payload.mid(4 + len);
    return QJsonDocument::fromJson(f.payload.mid(4, len)).object();
}

// A terminal-like client of the command port: sends a line, collects lines up to the status line.
class CommandClient {
public:
    bool connectTo(const sim::Reader& r, const QString& station = {}) {
        m_socket.connectToHost(r.address(), r.commandPort());
        if (!m_socket.waitForConnected(kReplyWaitMs))
            return false;
        return station.isEmpty() || command("STATION " + station).value(0) == "!STATION OK";
    }
    // Connected as station WS, holding programming control.
    bool control(const sim::Reader& r) { return connectTo(r, "WS") && statusOf("CONTROL") == "!CONTROL OK"; }
    void sendRaw(const QByteArray& bytes) { m_socket.write(bytes); }
    // The reply lines; the status line is the last one.
    QStringList command(const QString& line) {
        sendRaw(line.toLatin1() + "\r\n");
        return readReply();
    }
    // Lines written at once, as a PC sends a batch; the reply lines of them all.
    QStringList sendAll(const QStringList& lines) {
        sendRaw(lines.join("\r\n").toLatin1() + "\r\n");
        QStringList replies;
        for (qsizetype i = 0; i < lines.size(); ++i)
            replies += readReply();
        return replies;
    }
    QStringList readReply() {
        // Waits on readyRead in a local event loop, so that the in-process reader keeps running.
        QStringList lines;
        QEventLoop loop;
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &loop, &QEventLoop::quit);
        QObject::connect(&m_socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
        timeout.start(kReplyWaitMs);
        for (;;) {
            m_buffer += m_socket.readAll();
            qsizetype lf;
            while ((lf = m_buffer.indexOf('\n')) >= 0) {
                QByteArray l = m_buffer.left(lf);
                m_buffer.remove(0, lf + 1);
                if (l.endsWith('\r'))
                    l.chop(1);
                lines << QString::fromLatin1(l);
                if (l.startsWith('!'))
                    return lines;
            }
            if (!timeout.isActive() || m_socket.state() != QAbstractSocket::ConnectedState)
                return lines;
            loop.exec();
        }
    }
    // The status line of a command.
    QString statusOf(const QString& line) {
        const QStringList r = command(line);
        return r.isEmpty() ? QString() : r.last();
    }
    // The data line of a query.
    QString query(const QString& name) {
        const QStringList r = command(name);
        return r.size() == 2 ? r.first() : QString();
    }
    // Sends each line; the first one the reader refuses, with its status line (empty: none).
    QString refused(const QStringList& lines) {
        for (const QString& line : lines)
            if (const QString status = statusOf(line); !status.endsWith(" OK"))
                return line + " -> " + status;
        return {};
    }
    QTcpSocket& socket() { return m_socket; }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

// A client of the data port.
class DataClient {
public:
    bool connectTo(const sim::Reader& r) {
        m_socket.connectToHost(r.address(), r.dataPort());
        return m_socket.waitForConnected(kReplyWaitMs);
    }
    // Connected and subscribed, by default to records without images; every report, and
    // images at most `imageRate` a second (0: all).
    bool open(const sim::Reader& r, int imageMode = 2, double imageRate = 0) {
        if (!connectTo(r))
            return false;
        subscribe(imageMode, imageRate);
        return true;
    }
    void send(sim::FrameType type, const QByteArray& payload) {
        m_socket.write(sim::encodeFrame(type, payload));
    }
    void subscribe(int imageMode, double imageRate = 0) {
        m_socket.write(sim::encodeJsonFrame(sim::FrameType::Subscribe, QJsonObject{{"station", "WS"},
                                                                                   {"imageMode", imageMode},
                                                                                   {"imageRate", imageRate},
                                                                                   {"reportRate", 0},
                                                                                   {"legacy", false}}));
    }
    // Waits until a frame has come, leaving it to be taken.
    bool waitForFrame() {
        return QTest::qWaitFor(
            [&] {
                m_pending += m_reader.feed(m_socket.readAll());
                return !m_pending.isEmpty();
            },
            kReplyWaitMs);
    }
    // Waits for the next frame of any type.
    bool nextAny(sim::Frame* out) {
        if (!waitForFrame())
            return false;
        *out = m_pending.takeFirst();
        return true;
    }
    // Waits for the next frame of a type, passing over others.
    bool next(sim::FrameType type, sim::Frame* out) {
        return QTest::qWaitFor(
            [&] {
                m_pending += m_reader.feed(m_socket.readAll());
                while (!m_pending.isEmpty()) {
                    const sim::Frame f = m_pending.takeFirst();
                    if (f.type == type) {
                        *out = f;
                        return true;
                    }
                }
                return false;
            },
            kReplyWaitMs);
    }
    // The next record (its image bytes in *image); empty on a time-out.
    QJsonObject nextRecord(QByteArray* image = nullptr) {
        sim::Frame f;
        return next(sim::FrameType::Record, &f) ? recordJson(f, image) : QJsonObject{};
    }
    // The next event; empty on a time-out.
    QJsonObject nextEvent() {
        sim::Frame f;
        return next(sim::FrameType::Event, &f) ? QJsonDocument::fromJson(f.payload).object() : QJsonObject{};
    }
    // The events up to the next record, and that record.
    bool eventsUntilRecord(QList<QJsonObject>* events, QJsonObject* record) {
        sim::Frame f;
        while (nextAny(&f)) {
            if (f.type == sim::FrameType::Event)
                events->append(QJsonDocument::fromJson(f.payload).object());
            else if (f.type == sim::FrameType::Record) {
                *record = recordJson(f);
                return true;
            }
        }
        return false;
    }
    // Waits for a line event of `line` with `active`; returns it (empty on time-out).
    QJsonObject lineEvent(const QString& line, bool active) {
        for (QJsonObject o = nextEvent(); !o.isEmpty(); o = nextEvent())
            if (o.value("event") == "line" && o.value("line") == line && o.value("active").toBool() == active)
                return o;
        return {};
    }
    QTcpSocket& socket() { return m_socket; }

private:
    QTcpSocket m_socket;
    sim::FrameReader m_reader;
    QList<sim::Frame> m_pending;
};

} // namespace vm::testing
