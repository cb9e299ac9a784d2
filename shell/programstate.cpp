#include "shell/programstate.h"

#include "app/applyparameters.h"

namespace vm::shell {

namespace {
struct State {
    int firmwareLevel = 0;
    bool verificationEnabled = false;
    QString calibrationText = QStringLiteral("Not Calibrated");
    QString controlPassword;
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
    return state().firmwareLevel >= 4;
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

} // namespace vm::shell
