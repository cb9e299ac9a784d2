#include "verification/calibrationstate.h"

#include <QHash>

namespace vm::verification {

QString lightName(int index) {
    static const QStringList names = {"INTERNAL", "90",    "D",     "45Q",   "30T_NS", "30T_EW",
                                      "30Q",      "30S_N", "30S_E", "30S_S", "30S_W"};
    return index >= 0 && index < names.size() ? names.at(index) : QStringLiteral("OFF");
}

QString lightDisplayName(int index) {
    const CalibrationState& state = calibrationState();
    if ((index == 0 || index == 1) && !state.aliasName.isEmpty())
        return state.aliasName;
    return lightName(index);
}

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

CalibrationState& calibrationState() {
    static CalibrationState state;
    return state;
}

} // namespace vm::verification
