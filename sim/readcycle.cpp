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
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QJsonArray>
#include <QLocale>
#include <QMutex>

#include <algorithm>

namespace vm::sim {

namespace {

// Retries that see the same scene gain nothing after this many attempts, so
// long retry times do not stall the reader's event loop.
constexpr int kMaxAttempts = 16;

// A verification measures the mean of this many exposures of the still part: together with
// the aperture it keeps the sensor's noise from lifting Rmax and lowering Rmin.
constexpr int kGradingShots = 16;
// A picture with more of the symbol's pixels than this at full scale has lost its brightest
// reflectances: the result says so rather than report a contrast it could not measure.
constexpr double kClippedShare = 0.002;

// Every acquisition engine by the parameters it reads, for ReadCycle::serving.
QMutex g_engineLock;
QHash<const ParameterSource*, ReadCycle*> g_engines;

// A picture file on a sensor-sized canvas, as a transferred image file is placed: cropped or
// padded around its centre, the padding the mean grey of the picture's border.
QImage placeOnSensor(const QImage& picture) {
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    qint64 sum = 0, count = 0;
    for (int x = 0; x < grey.width(); ++x) {
        sum += grey.constScanLine(0)[x] + grey.constScanLine(grey.height() - 1)[x];
        count += 2;
    }
    for (int y = 0; y < grey.height(); ++y) {
        sum += grey.constScanLine(y)[0] + grey.constScanLine(y)[grey.width() - 1];
        count += 2;
    }
    QImage canvas(Scene::kWidth, Scene::kHeight, QImage::Format_Grayscale8);
    canvas.fill(int(count ? sum / count : 218));
    const int sx = std::max(0, (grey.width() - Scene::kWidth) / 2);
    const int sy = std::max(0, (grey.height() - Scene::kHeight) / 2);
    const int dx = std::max(0, (Scene::kWidth - grey.width()) / 2);
    const int dy = std::max(0, (Scene::kHeight - grey.height()) / 2);
    const int w = std::min(Scene::kWidth, int(grey.width()));
    const int h = std::min(Scene::kHeight, int(grey.height()));
    for (int y = 0; y < h; ++y)
        std::copy_n(grey.constScanLine(sy + y) + sx, w, canvas.scanLine(dy + y) + dx);
    return canvas;
}

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
    // What a light's calibration learnt, for grading in percent reflectance at the
    // exposure and gain it calibrated with.
    struct Calibrated {
        double reflectanceCal = 0; // grey of the target's light modules in the grading picture
        int targetReflectance = 0; // percent
        int exposure = 0;
        int gain = 0;
    };
    QHash<QString, Calibrated> calibrations;
    // The picture the admin interface put in front of the camera, if any.
    QImage picture;
    QString pictureName;
    quint64 pictureFrames = 0;
    // The grading picture of the cycle that concludes a calibration.
    QImage calibrationPicture;

    // The frame of the last new picture, which retries look at again.
    Scene::Frame lastFrame;
    Scene::Frame nextFrame();

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
    CalibrationOutcome outcome = calibrate(calibrationPicture, decoded, request);
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
        calibrations.insert(
            light, {outcome.reflectanceCal, request.targetReflectance, outcome.exposure, outcome.gain});
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
    // The target is measured as every symbol is graded: at the settled exposure, on the mean
    // of several exposures with the black level and the lights' fall-off taken out.
    calibrationPicture = camera.gradingPicture(frame.reflectance, settings, frame.sequence * 31 + 300,
                                               kGradingShots, image.rect(), nullptr);
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
    const Scene::Frame frame = plan.newImage ? nextFrame() : lastFrame;

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
    const QString standard = f.text("VERIFY", 0).toUpper();
    const bool verifying =
        parameters.firmwareLevel() >= 4 && !standard.isEmpty() && standard != QLatin1String("NONE");
    DecoderSettings decoderNow = DecoderSettings::fromParameters(f);
    decoderNow.verifying = verifying;
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

    if (verifying || pendingCalibration) {
        const QString light = currentLight(f);
        const auto calibration = calibrations.constFind(light);
        const bool calibrated = calibration != calibrations.constEnd() && calibration->reflectanceCal > 0;
        // Uncalibrated, grey levels stand for reflectance as they are.
        double scale = 100.0 / 255.0;
        QImage picture = pendingCalibration ? calibrationPicture : out.image;
        double clipped = 0.0;
        if (calibrated) {
            scale = calibration->targetReflectance / calibration->reflectanceCal;
            if (out.symbolFound && !pendingCalibration) {
                // A verifier grades at the exposure and gain it was calibrated with, whatever
                // automatic photometry chose for reading: the scale holds only there.
                ImagingSettings graded = settings;
                graded.exposureUs = calibration->exposure;
                graded.gain = calibration->gain;
                QRectF area;
                for (const QPointF& p : decoded.corners)
                    area = area.isNull() ? QRectF(p, QSizeF(1, 1)) : area.united(QRectF(p, QSizeF(1, 1)));
                picture = camera.gradingPicture(frame.reflectance, graded, frame.sequence * 31 + 400,
                                                kGradingShots, area.toAlignedRect(), &clipped);
            }
        }
        const DecodeOutcome graded = out.symbolFound ? decoded : DecodeOutcome{};
        QJsonObject result = verificationResult(
            measureSymbol(picture, graded, scale), out.symbolFound, f,
            standard.isEmpty() || standard == QLatin1String("NONE") ? QStringLiteral("AIM") : standard);
        result.insert("calibrated", calibrated);
        if (!calibrated && !pendingCalibration) {
            // Graded all the same, as a verifier without a calibration does, but on the camera's
            // own scale (grey 255 is 100 %): the result says so beside "calibrated", and the
            // verification report shows it as a row of its own.
            result.insert("warning", QStringLiteral("Not Calibrated: reflectances are grey levels over 255, "
                                                    "not measured against a calibration target"));
        }
        if (calibrated && out.symbolFound && !pendingCalibration) {
            result.insert("gradedExposure", calibration->exposure);
            result.insert("gradedGain", calibration->gain);
        }
        if (clipped > kClippedShare) {
            const QString share = QString::number(clipped * 100.0, 'f', 1);
            result.insert("saturated", true);
            result.insert("warning",
                          QStringLiteral("Saturated: %1 % of the symbol at full scale; its reflectance "
                                         "lies above the calibrated range")
                              .arg(share));
            // A row of its own, so that every report of the record shows it.
            QJsonArray rows = result.value("parameters").toArray();
            rows.append(QJsonObject{{"name", "Saturation"},
                                    {"value", QStringLiteral("%1 % at full scale").arg(share)},
                                    {"grade", ""}});
            result.insert("parameters", rows);
        }
        out.verification = result;
    }
    if (pendingCalibration)
        concludeCalibration(f, out.symbolFound ? decoded : DecodeOutcome{}, out);
    return out;
}

ReadCycle::ReadCycle(ParameterSource& parameters)
    : d(std::make_unique<Private>(parameters)) {
    const QMutexLocker lock(&g_engineLock);
    g_engines.insert(&parameters, this);
}

ReadCycle::~ReadCycle() {
    const QMutexLocker lock(&g_engineLock);
    if (g_engines.value(&d->parameters) == this)
        g_engines.remove(&d->parameters);
}

ReadCycle* ReadCycle::serving(const ParameterSource& parameters) {
    const QMutexLocker lock(&g_engineLock);
    return g_engines.value(&parameters);
}

Scene::Frame ReadCycle::Private::nextFrame() {
    if (picture.isNull()) {
        lastFrame = scene.nextFrame();
        return lastFrame;
    }
    Scene::Frame frame;
    frame.reflectance = picture;
    frame.fileName = pictureName;
    // Each frame of the still picture gets sensor noise of its own.
    frame.sequence = (quint64(1) << 40) + ++pictureFrames;
    lastFrame = frame;
    return frame;
}

bool ReadCycle::showPicture(const QString& path, QString* error) {
    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull()) {
        if (error)
            *error = QStringLiteral("%1 cannot be read: %2").arg(path, reader.errorString());
        return false;
    }
    d->picture = placeOnSensor(image);
    d->pictureName = QFileInfo(path).fileName();
    return true;
}

void ReadCycle::removePicture() {
    d->picture = QImage();
    d->pictureName.clear();
}

QString ReadCycle::pictureName() const {
    return d->pictureName;
}

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
    plan.newImage = newImage || d->lastFrame.reflectance.isNull();
    plan.decodeTimeout = false;
    plan.retryLight = illumination.toUpper() == QLatin1String("EXTERN") ? QStringLiteral("EXTERNAL")
                                                                        : illumination.toUpper();
    plan.lightFromFirst = true;
    return d->acquire(fields, plan);
}

} // namespace vm::sim
