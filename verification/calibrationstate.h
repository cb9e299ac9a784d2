#pragma once

#include <QString>
#include <QStringList>

#include <array>

// What the calibration dialog learns about each light, kept program-wide: it outlives the
// dialog and the verification windows read it.
namespace vm::verification {

// The lights by index: 0 the reader's own light, 1 to 10 the external ones.
inline constexpr int kLightCount = 11;
// The reader's name of a light by index; "OFF" for any other index.
QString lightName(int index);
// The name shown for a light: indices 0 and 1 show the alias the reader holds for them.
QString lightDisplayName(int index);

// The text of a verification error code the reader reports for a failed calibration or
// verification; "Unknown error = " and the code for codes it does not know.
QString verificationErrorText(int code);

struct LightCalibration {
    int exposure = 0;
    int gain = 0;
    double cellUnit = 0.0;
    double contrastMax = 0.0;
    double contrastMin = 0.0;
    double reflectanceCal = 0.0; // R_cal
    QString statusText;          // the error of the last attempt; empty when none
    QString calibratedText;      // "Calibrated Since Restart: ..."; empty when not calibrated
    QString dateText;
};

struct CalibrationState {
    std::array<LightCalibration, 12> lights;
    int targetContrast = 80;
    int targetReflectance = 85;
    int aperture = 0; // 0: automatic
    int lightChannels = 0;
    int currentLight = 0;
    QString aliasName;
    bool calibrated = false;
};

// The program's calibration state.
CalibrationState& calibrationState();

} // namespace vm::verification
