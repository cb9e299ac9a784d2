#include "app/programstate.h"

#include "app/applyparameters.h"
#include "link/vocabulary.h"

#include <QHash>

namespace vm::app {

namespace {
struct State {
    int firmwareLevel = 0;
    bool verificationEnabled = false;
    int verificationStandard = 0;
    QString calibrationText = QStringLiteral("Not Calibrated");
    QString controlPassword;
    bool imageFileAcquisition = false;
    bool readerCalibrated = false;
};

State& state() {
    static State s;
    return s;
}
} // namespace

int firmwareLevel() {
    return state().firmwareLevel;
}

void setFirmwareLevel(int level) {
    state().firmwareLevel = level;
}

bool verificationEnabled() {
    return state().verificationEnabled;
}

void setVerificationEnabled(bool enabled) {
    state().verificationEnabled = enabled;
}

bool verificationAvailable() {
    return state().firmwareLevel >= vm::link::level::Verification;
}

int VerificationStandardCode(const QString& keyword) {
    static const QHash<QString, int> codes = {
        {QStringLiteral("NONE"), 0}, {QStringLiteral("AIM"), 1},    {QStringLiteral("ANSI"), 2},
        {QStringLiteral("IAQG"), 3}, {QStringLiteral("DPM"), 4},    {QStringLiteral("KVTA"), 4},
        {QStringLiteral("ISO"), 5},  {QStringLiteral("ISOAIM"), 6}, {QStringLiteral("AIMDPM"), 6}};
    return codes.value(keyword, 0);
}

int verificationStandard() {
    return state().verificationStandard;
}

void setVerificationStandard(int code) {
    state().verificationStandard = code;
}

QString calibrationText() {
    return state().calibrationText;
}

void setCalibrationText(const QString& text) {
    state().calibrationText = text;
}

QString controlPassword() {
    return state().controlPassword;
}

void setControlPassword(const QString& password) {
    state().controlPassword = password;
}

vm::link::ParameterSet& globalParameters() {
    return vm::app::PendingParameters();
}

bool imageFileAcquisition() {
    return state().imageFileAcquisition;
}

void setImageFileAcquisition(bool files) {
    state().imageFileAcquisition = files;
}

bool readerCalibrated() {
    return state().readerCalibrated;
}

void setReaderCalibrated(bool calibrated) {
    state().readerCalibrated = calibrated;
}

} // namespace vm::app
