// Command lines a PC sends to the simulated reader, and the bytes that make them up.
#include "fuzz/fuzzentry.h"
#include "sim/reader.h"

#include <cstdlib>
#include <memory>

namespace {
vm::sim::Reader& reader() {
    static std::unique_ptr<vm::sim::Reader> r;
    if (!r) {
        vm::sim::ReaderConfig config;
        config.name = QStringLiteral("Fuzz");
        config.address = QHostAddress(QStringLiteral("127.0.0.1"));
        r = std::make_unique<vm::sim::Reader>(config); // never started: no ports, no flash file
    }
    return *r;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vm::fuzz::ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    vm::sim::LineAssembler lines;
    vm::sim::Station station{QStringLiteral("FUZZ-PC"), (size & 1) != 0, 1};
    int count = 0;
    for (const vm::sim::LineAssembler::Line& line : lines.feed(bytes)) {
        if (++count > 64)
            break;
        const QString text = QString::fromLatin1(line.text);
        if (line.tooLong || text.trimmed().isEmpty())
            continue;
        const QStringList reply = reader().execute(text, station);
        // Every command ends with exactly one status line.
        if (reply.isEmpty() || !reply.last().startsWith(QLatin1Char('!')))
            std::abort();
    }
    return 0;
}
