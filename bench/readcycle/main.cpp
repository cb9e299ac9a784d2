// Read cycles per second of the simulated reader's acquisition engine on one
// core, with the factory Data Matrix in view.
#include "sim/readcycle.h"
#include "sim/scene.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>

#include <cstdio>

namespace {

class FactoryParameters : public vm::sim::ParameterSource {
public:
    QStringList fields(const QString& name) const override { return m_values.value(name); }
    void setFields(const QString& name, const QStringList& fields) override { m_values.insert(name, fields); }
    int firmwareLevel() const override { return 9; }
    QHash<QString, QStringList> m_values;
};

void measure(const char* label, vm::sim::ReadCycle& cycle, int cycles) {
    int reads = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < cycles; ++i)
        reads += cycle.run().symbolFound ? 1 : 0;
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("%-34s %7.1f cycles/s  (%d of %d read)\n", label, cycles / seconds, reads, cycles);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    FactoryParameters parameters;
    vm::sim::ReadCycle cycle(parameters);
    cycle.run(); // warm up: noise table, light profile
    measure("Data Matrix, factory settings", cycle, cycles);
    cycle.scene().setRotation(160);
    measure("Data Matrix upside down", cycle, cycles);
    parameters.setFields("VERIFY", {"ISO"});
    measure("Data Matrix with verification", cycle, cycles);
    parameters.setFields("VERIFY", {"NONE"});
    parameters.setFields("NUMDM", {"0"});
    measure("nothing enabled (no read)", cycle, cycles);
    std::printf("goal: at least 60 cycles/s with a Data Matrix in view\n");
    return 0;
}
