// Command-link bytes from a reader (network or serial), interleaved with commands the
// program sends. The input is a script: each step starts with a byte whose low bits
// choose the step and whose high bits give its length.
#include "fuzz/fuzzentry.h"
#include "link/commandresponse.h"
#include "link/protocol.h"
#include "link/transport.h"

#include <QCoreApplication>

#include <cstdlib>

namespace {

class ScriptTransport : public vm::link::Transport {
public:
    explicit ScriptTransport(Kind kind)
        : Transport(kind) {}
    QString description() const override { return QStringLiteral("fuzz"); }
    void open() override {}
    void close() override {}
    bool isOpen() const override { return true; }
    bool write(const QByteArray& bytes) override {
        written += bytes.size();
        return true;
    }
    void feed(const QByteArray& bytes) { emit bytesReceived(bytes); }
    qint64 written = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vm::fuzz::ensureApplication();
    if (size == 0)
        return 0;
    ScriptTransport transport(data[0] & 1 ? vm::link::Transport::Kind::Serial
                                          : vm::link::Transport::Kind::TcpCommand);
    vm::link::CommandResponse channel(QStringLiteral("fuzz"));
    channel.attach(&transport);
    int answered = 0;
    int sent = 0;
    size_t at = 1;
    static const char* const keywords[] = {"VERSION",    "NAME", "SHOW CONFIG", "TRIG", "DIR",
                                           "CONTROLLER", "?"};
    while (at < size) {
        const uint8_t op = data[at++];
        const size_t length = qMin<size_t>(size - at, size_t(op >> 2) * 8 + 1);
        const QByteArray chunk(reinterpret_cast<const char*>(data + at), qsizetype(length));
        switch (op & 3) {
        case 0:
        case 1:
            transport.feed(chunk);
            at += length;
            break;
        case 2:
            channel.sendAsync(
                QString::fromLatin1(keywords[(op >> 2) % 7]),
                [&answered](const vm::link::CommandReply&) { ++answered; }, 1000000);
            ++sent;
            break;
        case 3:
            // A command whose caller gives up at once, as after a time-out.
            channel.SendCommand(QString::fromLatin1(keywords[(op >> 2) % 7]), 0);
            channel.Lines();
            channel.ReadLine(0);
            break;
        }
    }
    channel.detach();
    QCoreApplication::sendPostedEvents();
    // Every command the program sent ends: answered, failed or given up.
    if (answered != sent)
        std::abort();
    return 0;
}
