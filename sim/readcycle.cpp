#include "sim/readcycle.h"

#include "sim/calibration.h"
#include "sim/decoder.h"
#include "sim/externallight.h"
#include "sim/grader.h"
#include "sim/imaging.h"
#include "sim/imagingparameters.h"
#include "sim/learn.h"
#include "sim/logging.h"
#include "sim/matching.h"
#include "sim/scene.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QLocale>

#include <algorithm>

namespace vm::sim {

namespace {

// Retries that see the same scene gain nothing after this many attempts, so
// long retry times do not stall the reader's event loop.
constexpr int kMaxAttempts = 16;

struct RetryPlan {
    int attempts = 1;
    int timeBudgetMs = 0;        // 0: no time limit besides the attempt count
    QString retryLight;          // lighting of the retries, empty: unchanged
    bool lightFromFirst = false; // the retry lighting applies to the first attempt as well
    bool newImage = true;        // the first attempt takes a new image
    bool decodeTimeout = true;   // TIMEOUT READ bounds the summed decode time
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
    std::optional<LearnRequest> pendingLearn;
    bool learnCancelled = false;
    bool pendingCalibration = false;
    // The decoder settings as they were before the last learn changed them, for "UNLEARN".
    QList<QPair<QString, QStringList>> beforeLearn;
    // R_cal and target reflectance of each calibrated light, for grading in
    // percent reflectance.
    QHash<QString, QPair<double, int>> calibrations;

    ImagingSettings imagingSettings(const FieldReader& f, bool automatic) const;
    CycleOutput acquire(const FieldReader& f, const RetryPlan& plan);
    void learn(const FieldReader& f, const Scene::Frame& frame, CycleOutput& out);
    void concludeCalibration(const FieldReader& f, const DecodeOutcome& decoded, CycleOutput& out);
    bool settleForCalibration(const FieldReader& f, const Scene::Frame& frame, ImagingSettings& settings,
                              Photometry& photometry, const DecoderSettings& decoder, QImage& image,
                              DecodeOutcome& decoded);
    bool calibrationSettled = true;
    void write(const QString& name, const QStringList& fields) { parameters.setFields(name, fields); }
};

void ReadCycle::Private::learn(const FieldReader& f, const Scene::Frame& frame, CycleOutput& out) {
    const bool automatic = f.text("PHOTOEX", 0).toUpper() == QLatin1String("AUTO");
    const ImagingSettings base = imagingSettings(f, automatic);
    int shot = 0;
    const Shooter shoot = [&](int exposure, int gain, bool* good) {
        ImagingSettings settings = base;
        settings.exposureUs = exposure;
        settings.gain = gain;
        const QImage raw = camera.expose(frame.reflectance, settings, frame.sequence * 31 + 100 + shot++);
        if (good)
            *good = Camera::measure(raw).good();
        return Camera::preprocess(raw, settings);
    };
    const LearnOutcome outcome = runLearn(*pendingLearn, f, shoot, base.exposureUs, base.gain);
    QList<QPair<QString, QStringList>> previous;
    for (const auto& [name, fields] : outcome.writes) {
        if (name != QLatin1String("PHOTOEX"))
            previous.append({name, f.fields(name)});
        write(name, fields);
    }
    if (!previous.isEmpty())
        beforeLearn = previous;
    out.learnStatus = outcome.code;
    pendingLearn.reset();
}

void ReadCycle::Private::concludeCalibration(const FieldReader& f, const DecodeOutcome& decoded,
                                             CycleOutput& out) {
    pendingCalibration = false;
    CalibrationRequest request = CalibrationRequest::fromParameters(f);
    request.exposureSettled = calibrationSettled;
    CalibrationOutcome outcome = calibrate(out.image, decoded, request);
    outcome.exposure = out.exposure;
    outcome.gain = out.gain;
    const QString light = outcome.light;
    const QString state = outcome.succeeded() ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    const QString text = outcome.succeeded()
                             ? QStringLiteral("Calibrated Since Restart: ") +
                                   QLocale::c().toString(QDateTime::currentDateTime(),
                                                         QStringLiteral("MMMM dd yyyy  hh:mm:ss"))
                             : verificationErrorText(outcome.errorCode);
    const QStringList cell{QString::number(outcome.cellUnit, 'f', 2)};
    const QStringList contrast{QString::number(outcome.contrastMax, 'f', 1),
                               QString::number(outcome.contrastMin, 'f', 1)};
    const QStringList meanLight{QString::number(outcome.reflectanceCal, 'f', 1)};
    const QStringList photometry{QStringLiteral("ON"), QString::number(outcome.exposure),
                                 QString::number(outcome.gain)};
    // The values of the selected light, and the same under the light's name.
    for (const QString& suffix : {QString(), QLatin1Char(' ') + light}) {
        write(QStringLiteral("CALIBRATED") + suffix, {state});
        write(QStringLiteral("CALIBRATED_STRING") + suffix, {QLatin1Char('"') + text + QLatin1Char('"')});
        write(QStringLiteral("CELL_UNIT") + suffix, cell);
        write(QStringLiteral("CONTRAST") + suffix, contrast);
        write(QStringLiteral("CAL_MEAN_LIGHT") + suffix, meanLight);
    }
    if (light == QLatin1String("INTERNAL"))
        write(QStringLiteral("CONTRASTCAL"), photometry);
    else
        write(QStringLiteral("XLIGHTCONTRASTCAL ") + light, photometry);
    if (outcome.succeeded())
        calibrations.insert(light, {outcome.reflectanceCal, request.targetReflectance});
    else
        calibrations.remove(light);

    out.calibration = outcome.toJson();
    out.learnStatus = outcome.succeeded() ? 2 : 0;
    QJsonObject verification = out.verification;
    verification.insert("errorCode", outcome.errorCode);
    verification.insert("light", light);
    if (!outcome.succeeded())
        verification.insert("status", verificationErrorText(outcome.errorCode));
    out.verification = verification;
}

bool ReadCycle::Private::settleForCalibration(const FieldReader& f, const Scene::Frame& frame,
                                              ImagingSettings& settings, Photometry& photometry,
                                              const DecoderSettings& decoder, QImage& image,
                                              DecodeOutcome& decoded) {
    // The reader calibrates on a settled exposure, whatever the photometry mode: a light
    // just switched on would otherwise be measured with the previous light's exposure.
    AutoPhotometry settle;
    settle.setLimits(f.number("PHOTOEX", 3), f.number("PHOTOEX", 4), f.number("PHOTOEX", 5),
                     f.number("PHOTOEX", 6));
    settle.reset(settings.exposureUs, settings.gain);
    QImage raw;
    bool settled = false;
    for (int shot = 0; shot < kCalibrationSettleShots && !settled; ++shot) {
        settings.exposureUs = settle.exposure();
        settings.gain = settle.gain();
        raw = camera.expose(frame.reflectance, settings, frame.sequence * 31 + 200 + shot);
        photometry = Camera::measure(raw);
        settled = settle.update(photometry);
    }
    image = Camera::preprocess(raw, settings);
    decoded = decodeImage(image, decoder);
    return settled;
}

ImagingSettings ReadCycle::Private::imagingSettings(const FieldReader& f, bool automatic) const {
    ImagingSettings s;
    s.illumination = f.text("ILLUM", 0).toUpper();
    s.externalLight = selectedExternalLight(f).level;
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

CycleOutput ReadCycle::Private::acquire(const FieldReader& f, const RetryPlan& plan) {
    QElapsedTimer cycleTimer;
    cycleTimer.start();
    const QString illumination = f.text("ILLUM", 0).toUpper();
    autoPhotometry.setLimits(
        f.number("PHOTOEX", 3),
        std::min(f.number("PHOTOEX", 4), Camera::isPowerStrobe(illumination) ? 1000 : 20000),
        f.number("PHOTOEX", 5), f.number("PHOTOEX", 6));
    if (!autoInitialised) {
        autoPhotometry.reset(f.number("PHOTOEX", 1), f.number("PHOTOEX", 2));
        autoInitialised = true;
    }

    const int timeoutMs = plan.decodeTimeout ? std::max(0, f.number("TIMEOUT READ", 0)) : 0;
    const Scene::Frame frame = plan.newImage ? scene.nextFrame() : scene.currentFrame();

    CycleOutput out;
    if (learnCancelled) {
        out.learnStatus = -1;
        learnCancelled = false;
    }
    if (pendingLearn && plan.newImage)
        learn(f, frame, out);
    // A learn may have changed photometry and decoder settings: this cycle
    // already works with them.
    const bool automaticNow = f.text("PHOTOEX", 0).toUpper() == QLatin1String("AUTO");
    const DecoderSettings decoderNow = DecoderSettings::fromParameters(f);
    DecodeOutcome decoded;
    ImagingSettings settings;
    Photometry photometry;
    double decodeMs = 0.0;
    bool timedOut = false;
    int attempts = 0;
    for (int attempt = 0; attempt < plan.attempts; ++attempt) {
        ++attempts;
        settings = imagingSettings(f, automaticNow);
        if ((attempt > 0 || plan.lightFromFirst) && !plan.retryLight.isEmpty())
            settings.illumination = plan.retryLight;
        const QImage raw = camera.expose(frame.reflectance, settings, frame.sequence * 31 + attempt);
        photometry = Camera::measure(raw);
        out.image = Camera::preprocess(raw, settings);
        decoded = decodeImage(out.image, decoderNow);
        decodeMs += decoded.milliseconds;
        if (automaticNow)
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

    if (pendingCalibration && !timedOut)
        calibrationSettled =
            settleForCalibration(f, frame, settings, photometry, decoderNow, out.image, decoded);

    out.attempts = attempts;
    out.timedOut = timedOut;
    out.exposure = settings.exposureUs;
    out.gain = settings.gain;
    out.photometryValid = photometry.good();
    out.decodeMs = decodeMs;
    out.symbolFound = decoded.found && !timedOut;
    out.located = decoded.found || !decoded.rejected.isEmpty();
    if (out.symbolFound) {
        out.corners = decoded.corners;
        out.text = decoded.text;
        out.symbology = decoded.symbology;
    }
    out.match = matcher.evaluate(f, parameters.firmwareLevel(), out.symbolFound, out.text);
    out.matchEntry = matcher.lastEntry();
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

    const QString standard = f.text("VERIFY", 0).toUpper();
    const bool verifying =
        parameters.firmwareLevel() >= 4 && !standard.isEmpty() && standard != QLatin1String("NONE");
    if (verifying || pendingCalibration) {
        const QString light = currentLight(f);
        double scale = 100.0 / 255.0;
        if (calibrations.contains(light) && calibrations.value(light).first > 0)
            scale = calibrations.value(light).second / calibrations.value(light).first;
        const DecodeOutcome graded = out.symbolFound ? decoded : DecodeOutcome{};
        out.verification = verificationResult(
            measureSymbol(out.image, graded, scale), out.symbolFound, f,
            standard.isEmpty() || standard == QLatin1String("NONE") ? QStringLiteral("AIM") : standard);
    }
    if (pendingCalibration)
        concludeCalibration(f, out.symbolFound ? decoded : DecodeOutcome{}, out);
    return out;
}

ReadCycle::ReadCycle(ParameterSource& parameters)
    : d(std::make_unique<Private>(parameters)) {}

ReadCycle::~ReadCycle() = default;

Scene& ReadCycle::scene() {
    return d->scene;
}

bool ReadCycle::handlesCommand(const QStringList& words) {
    if (words.isEmpty())
        return false;
    const QString keyword = words.first().toUpper();
    const QString second = words.size() > 1 ? words.at(1).toUpper() : QString();
    return keyword == QLatin1String("LEARNEX") || keyword == QLatin1String("LEARNASSIST") ||
           keyword == QLatin1String("LEARNCANCEL") || keyword == QLatin1String("UNLEARN") ||
           (keyword == QLatin1String("LEARN") &&
            (second == QLatin1String("BOTH") || second == QLatin1String("CALIBRATE"))) ||
           (keyword == QLatin1String("PHOTO") && second == QLatin1String("AUTO")) ||
           (keyword == QLatin1String("CAPTURE") &&
            (second == QLatin1String("FILES") || second == QLatin1String("CAMERA"))) ||
           (keyword == QLatin1String("DRIVEDELETE") && second == QLatin1String("FILES"));
}

bool ReadCycle::command(const QStringList& words, QString* error) {
    if (!handlesCommand(words)) {
        if (error)
            *error = QStringLiteral("not an acquisition command");
        return false;
    }
    const QString keyword = words.first().toUpper();
    const QString second = words.size() > 1 ? words.at(1).toUpper() : QString();
    auto arity = [&](int count) {
        if (words.size() == count)
            return true;
        if (error)
            *error = QStringLiteral("%1 takes %2 words").arg(keyword).arg(count);
        return false;
    };
    if (keyword == QLatin1String("LEARN") && second == QLatin1String("CALIBRATE")) {
        if (!arity(2))
            return false;
        d->pendingCalibration = true;
        return true;
    }
    if (keyword == QLatin1String("LEARNCANCEL")) {
        if (!arity(1))
            return false;
        // A learn that was still waiting ends with "NO LEARN" on the next record.
        d->learnCancelled = d->pendingLearn.has_value();
        d->pendingLearn.reset();
        return true;
    }
    if (keyword == QLatin1String("UNLEARN")) {
        if (!arity(1))
            return false;
        // Undoes the last learn; with none to undo the decoder searches freely again.
        const auto writes = d->beforeLearn.isEmpty() ? unlearnWrites() : d->beforeLearn;
        for (const auto& [name, fields] : writes)
            d->write(name, fields);
        d->beforeLearn.clear();
        return true;
    }
    if (keyword == QLatin1String("PHOTO")) {
        if (!arity(2))
            return false;
        QStringList photo = FieldReader(d->parameters).fields("PHOTOEX");
        photo[0] = QStringLiteral("AUTO");
        d->write(QStringLiteral("PHOTOEX"), photo);
        d->autoPhotometry.reset(photo.value(1).toInt(), photo.value(2).toInt());
        return true;
    }
    if (keyword == QLatin1String("CAPTURE")) {
        if (!arity(2))
            return false;
        if (second == QLatin1String("FILES"))
            return d->scene.useFiles(error);
        d->scene.useCamera();
        return true;
    }
    if (keyword == QLatin1String("DRIVEDELETE")) {
        if (!arity(2))
            return false;
        d->scene.deleteFiles();
        return true;
    }
    std::optional<LearnRequest> request = parseLearnCommand(words, error);
    if (!request)
        return false;
    d->pendingLearn = request;
    d->learnCancelled = false;
    return true;
}

bool ReadCycle::addFile(const QString& name, const QByteArray& bytes, QString* error) {
    return d->scene.addFile(name, bytes, error);
}

bool ReadCycle::learnPending() const {
    return d->pendingLearn.has_value();
}

bool ReadCycle::calibrationPending() const {
    return d->pendingCalibration;
}

CycleOutput ReadCycle::run() {
    const FieldReader fields(d->parameters);
    return d->acquire(fields, retryPlan(fields));
}

CycleOutput ReadCycle::attempt(bool newImage, const QString& illumination) {
    const FieldReader fields(d->parameters);
    RetryPlan plan;
    plan.newImage = newImage || d->scene.currentFrame().reflectance.isNull();
    plan.decodeTimeout = false;
    plan.retryLight = illumination.toUpper() == QLatin1String("EXTERN") ? QStringLiteral("EXTERNAL")
                                                                        : illumination.toUpper();
    plan.lightFromFirst = true;
    return d->acquire(fields, plan);
}

} // namespace vm::sim
