#include "sim/readcycle.h"

#include "sim/decoder.h"
#include "sim/imaging.h"
#include "sim/imagingparameters.h"
#include "sim/logging.h"
#include "sim/matching.h"
#include "sim/scene.h"

#include <QElapsedTimer>

#include <algorithm>

namespace vm::sim {

namespace {

// Retries that see the same scene gain nothing after this many attempts, so
// long retry times do not stall the reader's event loop.
constexpr int kMaxAttempts = 16;

struct RetryPlan {
    int attempts = 1;
    int timeBudgetMs = 0; // 0: no time limit besides the attempt count
    QString retryLight;   // lighting of the retries, empty: unchanged
};

RetryPlan retryPlan(const FieldReader& f) {
    RetryPlan plan;
    const QString mode = f.text("RETRYEX", 0).toUpper();
    if (mode == QLatin1String("TIME")) {
        plan.attempts = kMaxAttempts;
        plan.timeBudgetMs = std::clamp(f.number("RETRYEX", 1), 35, 60000);
    } else if (mode == QLatin1String("COUNT")) {
        plan.attempts = 1 + std::clamp(f.number("RETRYEX", 2), 1, 15);
    } else if (mode == QLatin1String("GPIO") || mode == QLatin1String("LIST")) {
        plan.attempts = 2;
    } else if (mode == QLatin1String("LIGHT")) {
        plan.attempts = 2;
        const int fieldCount = f.fields("RETRYEX").size();
        const int lightField = fieldCount > 10 ? 19 : 7;
        plan.retryLight = f.text("RETRYEX", lightField).toUpper();
        if (plan.retryLight == QLatin1String("EXTERN"))
            plan.retryLight = QStringLiteral("EXTERNAL");
    }
    return plan;
}

} // namespace

struct ReadCycle::Private {
    explicit Private(ParameterSource& p)
        : parameters(p) {}

    ParameterSource& parameters;
    Scene scene;
    Camera camera;
    AutoPhotometry autoPhotometry;
    Matcher matcher;
    bool autoInitialised = false;

    ImagingSettings imagingSettings(const FieldReader& f, bool automatic) const;
    CycleOutput acquire(const FieldReader& f);
};

ImagingSettings ReadCycle::Private::imagingSettings(const FieldReader& f, bool automatic) const {
    ImagingSettings s;
    s.illumination = f.text("ILLUM", 0).toUpper();
    const int maxExposure = Camera::isPowerStrobe(s.illumination) ? 1000 : 20000;
    if (automatic) {
        s.exposureUs = autoPhotometry.exposure();
        s.gain = autoPhotometry.gain();
    } else {
        s.exposureUs = std::clamp(f.number("PHOTOEX", 1), 30, maxExposure);
        s.gain = std::clamp(f.number("PHOTOEX", 2), 0, 1023);
    }
    s.morph = f.text("MORPH", 0).toUpper();
    s.morphIterations = f.number("MORPH", 1);
    s.negative = parameters.firmwareLevel() >= 5 && f.isOn("NEGATIVE", 0);
    s.sensorNoise = scene.noise();
    return s;
}

CycleOutput ReadCycle::Private::acquire(const FieldReader& f) {
    QElapsedTimer cycleTimer;
    cycleTimer.start();
    const bool automatic = f.text("PHOTOEX", 0).toUpper() == QLatin1String("AUTO");
    const QString illumination = f.text("ILLUM", 0).toUpper();
    autoPhotometry.setLimits(
        f.number("PHOTOEX", 3),
        std::min(f.number("PHOTOEX", 4), Camera::isPowerStrobe(illumination) ? 1000 : 20000),
        f.number("PHOTOEX", 5), f.number("PHOTOEX", 6));
    if (!autoInitialised) {
        autoPhotometry.reset(f.number("PHOTOEX", 1), f.number("PHOTOEX", 2));
        autoInitialised = true;
    }

    const DecoderSettings decoder = DecoderSettings::fromParameters(f);
    const RetryPlan plan = retryPlan(f);
    const int timeoutMs = std::max(0, f.number("TIMEOUT READ", 0));
    const Scene::Frame frame = scene.nextFrame();

    CycleOutput out;
    DecodeOutcome decoded;
    ImagingSettings settings;
    Photometry photometry;
    double decodeMs = 0.0;
    bool timedOut = false;
    for (int attempt = 0; attempt < plan.attempts; ++attempt) {
        settings = imagingSettings(f, automatic);
        if (attempt > 0 && !plan.retryLight.isEmpty())
            settings.illumination = plan.retryLight;
        const QImage raw = camera.expose(frame.reflectance, settings, frame.sequence * 31 + attempt);
        photometry = Camera::measure(raw);
        out.image = Camera::preprocess(raw, settings);
        decoded = decodeImage(out.image, decoder);
        decodeMs += decoded.milliseconds;
        if (automatic)
            autoPhotometry.update(photometry);
        if (timeoutMs > 0 && decodeMs > timeoutMs) {
            timedOut = true;
            break;
        }
        if (decoded.found)
            break;
        if (plan.timeBudgetMs > 0 && cycleTimer.elapsed() >= plan.timeBudgetMs)
            break;
    }

    out.exposure = settings.exposureUs;
    out.gain = settings.gain;
    out.photometryValid = photometry.good();
    out.decodeMs = decodeMs;
    out.symbolFound = decoded.found && !timedOut;
    if (out.symbolFound) {
        out.corners = decoded.corners;
        out.text = decoded.text;
        out.symbology = decoded.symbology;
    }
    out.match = matcher.evaluate(f, parameters.firmwareLevel(), out.symbolFound, out.text);
    out.passed = out.symbolFound && out.match != QLatin1String("FAIL");
    if (timedOut)
        out.status = QStringLiteral("Timeout");
    else if (!out.symbolFound)
        out.status = QStringLiteral("No Read");
    else if (out.match == QLatin1String("FAIL"))
        out.status = QStringLiteral("Match Fail");
    else
        out.status = QStringLiteral("Good Read");
    if (!out.symbolFound && !decoded.rejected.isEmpty())
        qCDebug(lcSim) << "symbol not accepted:" << decoded.rejected;
    return out;
}

ReadCycle::ReadCycle(ParameterSource& parameters)
    : d(std::make_unique<Private>(parameters)) {}

ReadCycle::~ReadCycle() = default;

Scene& ReadCycle::scene() {
    return d->scene;
}

CycleOutput ReadCycle::run() {
    const FieldReader fields(d->parameters);
    return d->acquire(fields);
}

} // namespace vm::sim
