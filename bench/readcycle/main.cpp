// Read cycles per second of the simulated reader's acquisition engine on one
// core, with the factory Data Matrix in view, the cost of each stage of a cycle, and
// the limit: zxing's own decode of the same image.
#include "sim/decoder.h"
#include "sim/grader.h"
#include "sim/imaging.h"
#include "sim/imagingparameters.h"
#include "sim/output.h"
#include "sim/readcycle.h"
#include "sim/scene.h"

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHash>

#include <cstdio>
#include <ctime>

namespace {

class FactoryParameters : public vm::sim::ParameterSource {
public:
    QStringList fields(const QString& name) const override { return m_values.value(name); }
    void setFields(const QString& name, const QStringList& fields) override { m_values.insert(name, fields); }
    int firmwareLevel() const override { return 9; }
    QHash<QString, QStringList> m_values;
};

// The processor time this program has used, in milliseconds: what the work costs the
// reader, apart from whatever else the machine is running (on Windows, std::clock counts
// wall time instead).
double cpuMs() {
    return std::clock() * 1000.0 / CLOCKS_PER_SEC;
}

double measure(const char* label, vm::sim::ReadCycle& cycle, int cycles) {
    int reads = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < cycles; ++i)
        reads += cycle.run().symbolFound ? 1 : 0;
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("%-34s %7.1f cycles/s  (%d of %d read)\n", label, cycles / seconds, reads, cycles);
    return cycles / seconds;
}

// Where a graded cycle's time goes, stage by stage, on the pictures the scene prints, and
// zxing's bare decode of the same images: the limit no read cycle can beat.
void measureStages(FactoryParameters& parameters, const QString& morph, int iterations, int cycles) {
    using namespace vm::sim;
    Scene scene;
    Camera camera;
    ImagingSettings settings;
    settings.morph = morph;
    settings.morphIterations = iterations;
    const DecoderSettings decoder = DecoderSettings::fromParameters(FieldReader(parameters));
    parameters.setFields("VERIFY", {"ISO"});
    const FieldReader fields(parameters);
    double frameNs = 0, exposeNs = 0, preprocessNs = 0, decodeNs = 0, gradeNs = 0, zxingNs = 0;
    int graded = 0, zxingReads = 0;
    QElapsedTimer t;
    for (int i = 0; i < cycles; ++i) {
        t.start();
        const Scene::Frame frame = scene.nextFrame();
        frameNs += t.nsecsElapsed();
        t.start();
        const QImage raw = camera.expose(frame.reflectance, settings, frame.sequence * 31);
        Camera::measure(raw);
        exposeNs += t.nsecsElapsed();
        t.start();
        const QImage image = Camera::preprocess(raw, settings);
        preprocessNs += t.nsecsElapsed();
        t.start();
        const DecodeOutcome decoded = decodeImage(image, decoder);
        decodeNs += t.nsecsElapsed();
        t.start();
        const QJsonObject grade =
            verificationResult(measureSymbol(image, decoded, 100.0 / 255.0), decoded.found, fields, "ISO");
        gradeNs += t.nsecsElapsed();
        graded += decoded.found && !grade.isEmpty() ? 1 : 0;
        t.start();
        ZXing::DecodeHints hints;
        hints.setFormats(ZXing::BarcodeFormat::DataMatrix);
        hints.setTryHarder(false);
        hints.setTryDownscale(false);
        hints.setMaxNumberOfSymbols(1);
        const ZXing::ImageView view(image.constBits(), image.width(), image.height(), ZXing::ImageFormat::Lum,
                                    int(image.bytesPerLine()));
        zxingReads += ZXing::ReadBarcodes(view, hints).empty() ? 0 : 1;
        zxingNs += t.nsecsElapsed();
    }
    parameters.setFields("VERIFY", {"NONE"});
    const double n = cycles * 1e6;
    const double total = (frameNs + exposeNs + preprocessNs + decodeNs + gradeNs) / n;
    std::printf(
        "stages with %s %d, ms per cycle: scene %.2f, exposure %.2f, preprocessing %.2f, decode %.2f, "
        "grading %.2f = %.2f ms (%.0f cycles/s, %d graded)\n",
        qPrintable(morph), iterations, frameNs / n, exposeNs / n, preprocessNs / n, decodeNs / n, gradeNs / n,
        total, 1000.0 / total, graded);
    std::printf("  limit: zxing's decode of the same image %.2f ms (%.0f/s, %d of %d read)\n", zxingNs / n,
                1000.0 / std::max(1e-9, zxingNs / n), zxingReads, cycles);
}

// The reader's cost of formatting one record's reports: every keyword of the format language
// in the formats of the five ports, as the reader expands them after a cycle.
void measureOutput(FactoryParameters& parameters, vm::sim::ReadCycle& cycle, bool imageData, int records) {
    QStringList keywords = vm::sim::formatKeywords();
    if (!imageData) {
        keywords.removeAll(QStringLiteral("(ID01)"));
        keywords.removeAll(QStringLiteral("(ID02)"));
        keywords.removeAll(QStringLiteral("(CD25)"));
    }
    // Formats hold at most 128 characters: the keywords are spread over the ports' reports.
    QStringList formats;
    QString current;
    for (const QString& k : keywords) {
        if (current.size() + k.size() + 6 > 128) {
            formats << current;
            current.clear();
        }
        current += k + QLatin1Char(',');
    }
    formats << current + QStringLiteral("\\0d\\0a");
    const QStringList ports = vm::sim::OutputPorts::portWords();
    for (int i = 0; i < ports.size(); ++i) {
        const QString prefix = QStringLiteral("OUTPUT ") + ports[i];
        parameters.setFields(
            prefix + QStringLiteral(" OKDEC"),
            {"Y", QLatin1Char('"') + formats.value(i % formats.size()) + QLatin1Char('"'), "H_T"});
        parameters.setFields(prefix + QStringLiteral(" H_T"), {"\"(TIMESTAMP) \"", "\"(CHECKSUM)\\0d\\0a\""});
        parameters.setFields(prefix + QStringLiteral(" FIXED"), {"0"});
    }
    parameters.setFields("VERIFY", {"ISO"});
    const vm::sim::CycleOutput out = cycle.run();
    parameters.setFields("VERIFY", {"NONE"});
    vm::sim::OutputCounters counters;
    qint64 bytes = 0;
    const double cpuStart = cpuMs();
    for (int r = 0; r < records; ++r) {
        vm::sim::FormatContext context(out, r + 1, 1700000000000 + r, counters, false);
        for (const QString& port : ports)
            bytes += vm::sim::OutputPorts::composeReport(parameters, port, vm::sim::OutputEvent::DecodePass,
                                                         context)
                         .size();
    }
    const double msPerRecord = (cpuMs() - cpuStart) / records;
    std::printf("%-34s %7.4f ms/record of processor time  (%d keywords on %lld ports, %lld bytes/record)\n",
                imageData ? "output, every keyword with images" : "output, every keyword but images",
                msPerRecord, int(keywords.size()), qlonglong(ports.size()), bytes / records);
}

template <typename Parameters>
void measureLearn(vm::sim::ReadCycle& cycle, Parameters& parameters, int learns) {
    int learned = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < learns; ++i) {
        parameters.m_values.clear();
        cycle.command({QStringLiteral("LEARN"), QStringLiteral("BOTH")});
        const vm::sim::CycleOutput out = cycle.run();
        learned += out.learnStatus.value_or(0) == 6 ? 1 : 0;
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("%-34s %7.1f cycles/s  (%d of %d learned)\n", "Data Matrix, LEARN BOTH each cycle",
                learns / seconds, learned, learns);
    parameters.m_values.clear();
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
    measure("Data Matrix upside down, graded", cycle, cycles);
    cycle.scene().setRotation(8);
    measure("Data Matrix with ISO grading", cycle, cycles);
    parameters.setFields("MORPH", {"CLOSE", "5"});
    measure("Data Matrix graded, CLOSE 5", cycle, cycles);
    parameters.setFields("VERIFY", {"NONE"});
    parameters.setFields("MORPH", {"CLOSE", "1"});
    measure("Data Matrix, preprocessing CLOSE 1", cycle, cycles);
    parameters.setFields("MORPH", {"ERODE", "3"});
    measure("Data Matrix, preprocessing ERODE 3", cycle, cycles);
    parameters.setFields("MORPH", {"NONE", "1"});
    measureStages(parameters, "NONE", 1, cycles);
    measureStages(parameters, "CLOSE", 5, cycles);
    // A learn sweeps exposures and decodes each: its cycle is the expensive one.
    measureLearn(cycle, parameters, std::max(5, cycles / 20));
    parameters.setFields("NUMDM", {"0"});
    measure("nothing enabled (no read)", cycle, cycles);
    std::printf("goal: at least 60 cycles/s with a Data Matrix in view\n");
    parameters.setFields("NUMDM", {"1"});
    parameters.setFields("BEEP", {"Y"});
    measureOutput(parameters, cycle, false, cycles * 10);
    measureOutput(parameters, cycle, true, cycles);
    std::printf("goal: formatted output under 0.1 ms per record with every keyword in use\n");
    return 0;
}
