// Lines on the simulated reader's admin interface.
#include "fuzz/fuzzentry.h"
#include "sim/adminconsole.h"
#include "sim/simulator.h"

#include <memory>

namespace {
vm::sim::AdminConsole& console() {
    static std::unique_ptr<vm::sim::Simulator> simulator;
    static std::unique_ptr<vm::sim::AdminConsole> admin;
    if (!admin) {
        vm::sim::SimulatorConfig config;
        config.discoveryPort = 0;
        vm::sim::ReaderConfig reader;
        reader.name = QStringLiteral("Fuzz");
        reader.address = QHostAddress(QStringLiteral("127.0.0.1"));
        reader.commandPort = 0;
        reader.dataPort = 0;
        config.readers.append(reader);
        simulator = std::make_unique<vm::sim::Simulator>(config);
        simulator->start();
        admin = std::make_unique<vm::sim::AdminConsole>(*simulator);
    }
    return *admin;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vm::fuzz::ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    int count = 0;
    for (const QByteArray& line : bytes.split('\n')) {
        if (++count > 16)
            break;
        const QString text = QString::fromUtf8(line);
        // Commands that end the process or its readers' links are not what is fuzzed here.
        const QString word = text.trimmed().section(QLatin1Char(' '), 0, 0).toLower();
        if (word == QLatin1String("quit") || word == QLatin1String("reboot") || word == QLatin1String("down"))
            continue;
        console().execute(text);
    }
    return 0;
}
