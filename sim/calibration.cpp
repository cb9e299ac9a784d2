#include "sim/calibration.h"

#include "sim/externallight.h"
#include "sim/grader.h"
#include "sim/imagingparameters.h"

#include <QHash>

#include <cmath>

namespace vm::sim {

QString verificationErrorText(int code) {
    static const QHash<int, QString> texts = {
        {4650, QStringLiteral("Verification contrast calibration failure")},
        {4651, QStringLiteral("Verification cellunit calibration failure")},
        {4700, QStringLiteral("Verification process error")},
        {4701, QStringLiteral("Verification unsupported")},
        {4702, QStringLiteral("Verification timeout")},
        {4709, QStringLiteral("ISO Verification mean light bad")},
        {4710, QStringLiteral("ISO Verification ECC200 required")},
        {4711, QStringLiteral("ISO Verification aperture too small. Cell Size is out of spec > .025 inches")},
        {4712, QStringLiteral("ISO Verification aperture too large. Cell Size is out of spec < .005 inches")},
        {4713, QStringLiteral("ISO Verification insufficient space")},
        {4714, QStringLiteral("ISO Verification failed RDA STEP F 1")},
        {4715, QStringLiteral("ISO Verification failed RDA STEP F 2")},
        {4716, QStringLiteral("ISO Verification failed RDA STEP F 3")},
        {4717, QStringLiteral("ISO Verification failed RDA STEP A E")},
        {4718, QStringLiteral("ISO Verification failed RDA final image adjustment")},
        {4719, QStringLiteral("ISO Verification failed RDA error correction")},
        {4720, QStringLiteral("ISO Verification size too large")},
        {4721, QStringLiteral("ISO Verification cell size smaller than Min X")},
        {4722, QStringLiteral("ISO Verification cell size greater than Max X")},
    };
    return texts.value(code, QStringLiteral("Unknown error = %1").arg(code));
}

QString currentLight(const FieldReader& fields) {
    if (fields.number("XLIGHTCHANNELS", 0) <= 0)
        return QStringLiteral("INTERNAL");
    const QString light = fields.text("LIGHT_CTL", 0).toUpper();
    return light.isEmpty() || light == QLatin1String("OFF") ? QStringLiteral("INTERNAL") : light;
}

CalibrationRequest CalibrationRequest::fromParameters(const FieldReader& fields) {
    CalibrationRequest request;
    request.targetContrast = std::clamp(fields.number("TARGET_CALIB_CONTRAST", 0), 1, 99);
    request.targetReflectance = std::clamp(fields.number("TARGET_CALIB_REFLECTANCE", 0), 1, 99);
    request.aperture = fields.numberOrAuto("APERTURE", 0);
    request.light = currentLight(fields);
    request.lightShare = controlledLightShare(fields);
    return request;
}

QJsonObject CalibrationOutcome::toJson() const {
    return {{"light", light},
            {"errorCode", errorCode},
            {"status", errorCode ? verificationErrorText(errorCode) : QString()},
            {"cellUnit", cellUnit},
            {"contrastMax", contrastMax},
            {"contrastMin", contrastMin},
            {"reflectanceCal", reflectanceCal},
            {"exposure", exposure},
            {"gain", gain}};
}

CalibrationOutcome calibrate(const QImage& grey, const DecodeOutcome& decoded,
                             const CalibrationRequest& request) {
    CalibrationOutcome out;
    out.light = request.light;
    auto failed = [&](int code) {
        // What a failed light reports: no cell unit, the full grey range, no R_cal.
        out.errorCode = code;
        out.cellUnit = 100;
        out.contrastMax = 255;
        out.contrastMin = 0;
        out.reflectanceCal = 0;
        return out;
    };
    // Too little of the light comes from the light being calibrated, or no exposure gave
    // the paper a good grey level: the mean light cannot be trusted.
    if (request.lightShare < kMinimumLightShare || !request.exposureSettled)
        return failed(4709);
    if (!decoded.found)
        return failed(4700);
    if (decoded.symbology != QLatin1String("Data Matrix"))
        return failed(4710);
    if (!decoded.grid.isValid())
        return failed(4718);
    const SymbolMeasurements m = measureSymbol(grey, decoded, 100.0 / 255.0);
    if (!m.valid)
        return failed(4700);
    if (m.meanLight < 60 || m.meanLight > 250)
        return failed(4709);
    // The measuring aperture must cover well under a cell: about 0.8 cells at most.
    const double cell = m.cellSize;
    if (request.aperture > 0) {
        if (request.aperture > cell)
            return failed(4712);
        if (request.aperture * 4 < cell)
            return failed(4711);
    } else {
        if (cell < 3)
            return failed(4712);
        if (cell > 30)
            return failed(4711);
    }
    // The light and dark cells must show the contrast the target is known to have.
    const double measuredContrast = (m.meanLight - m.meanDark) / m.meanLight * 100.0;
    if (measuredContrast < 20 || std::abs(measuredContrast - request.targetContrast) > 35)
        return failed(4650);
    out.cellUnit = cell;
    out.contrastMax = m.meanLight;
    out.contrastMin = m.meanDark;
    out.reflectanceCal = m.meanLight;
    return out;
}

} // namespace vm::sim
