#pragma once

#include "sim/decoder.h"

#include <QImage>
#include <QJsonObject>
#include <QString>

namespace vm::sim {

class FieldReader;

// The reader's verification error codes, as a light's calibration reports them.
QString verificationErrorText(int code);

struct CalibrationRequest {
    int targetContrast = 80;    // percent
    int targetReflectance = 85; // percent
    int aperture = 0;           // pixels, 0 = AUTO
    QString light = QStringLiteral("INTERNAL");
    // Share of the light on the target that the calibrated light gives (the rest is ambient).
    double lightShare = 1.0;
    // The exposure reached a good grey level before the calibration measured.
    bool exposureSettled = true;

    static CalibrationRequest fromParameters(const FieldReader& fields);
};

struct CalibrationOutcome {
    QString light;
    int errorCode = 0; // 0 success
    double cellUnit = 0.0;
    double contrastMax = 0.0;
    double contrastMin = 0.0;
    double reflectanceCal = 0.0; // R_cal: grey level of the target's light modules
    int exposure = 0;
    int gain = 0;

    bool succeeded() const { return errorCode == 0; }
    QJsonObject toJson() const;
};

// Calibrates one light against the target in view: the cell unit, the contrast
// range and R_cal come from the measured image.
CalibrationOutcome calibrate(const QImage& grey, const DecodeOutcome& decoded,
                             const CalibrationRequest& request);

// A calibration needs the target lit by its own light, not by the hall's.
inline constexpr double kMinimumLightShare = 0.8;
// Exposures a calibration may take to bring the paper to a good grey level.
inline constexpr int kCalibrationSettleShots = 16;

// The light a calibration or a verification applies to: the selected external
// light, or the reader's own light without external channels.
QString currentLight(const FieldReader& fields);

} // namespace vm::sim
