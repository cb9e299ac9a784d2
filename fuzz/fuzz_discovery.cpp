// Discovery datagrams from anyone on the network.
#include "fuzz/fuzzentry.h"
#include "link/logging.h"
#include "link/protocol.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vm::fuzz::ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (auto answer = vm::link::parseDiscoveryAnswer(bytes, QHostAddress(QStringLiteral("127.0.0.9")))) {
        // What the parser lets through is what the rest of the program relies on.
        if (!vm::link::isAcceptableReaderName(answer->name) || answer->commandPort == 0 ||
            answer->dataPort == 0 || answer->address != QHostAddress(QStringLiteral("127.0.0.9")))
            std::abort();
    }
    vm::link::printable(bytes);
    vm::link::isDottedAddress(QString::fromUtf8(bytes));
    return 0;
}
