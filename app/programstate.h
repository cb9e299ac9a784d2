#pragma once

#include <QString>

namespace vm::link {
class ParameterSet;
}

// What the main window keeps program-wide about the focused reader, for every window
// to read: its generation, verification flags and calibration text.
namespace vm::app {

// 0 while no reader is connected; recomputed on every connection reset.
int firmwareLevel();
void setFirmwareLevel(int level);

// The reader's "VERIFY" field 0 is not "NONE".
bool verificationEnabled();
void setVerificationEnabled(bool enabled);
// Firmware level 4 or more.
bool verificationAvailable();

// The code of the reader's verification standard: "NONE" 0, "AIM" 1, "ANSI" 2, "IAQG" 3,
// "DPM" or "KVTA" 4, "ISO" 5, "ISOAIM" or "AIMDPM" 6, anything else 0.
int VerificationStandardCode(const QString& keyword);
// The standard the windows last read from the reader, as its code.
int verificationStandard();
void setVerificationStandard(int code);
// Code 6: the AIM DPM set-up fixes the lighting and the application mode.
inline constexpr int kAimDpmStandard = 6;

// "Not Calibrated", or "Calibrated : " and the reader's calibration string.
QString calibrationText();
void setCalibrationText(const QString& text);

// The password asked before control is taken; empty for none.
QString controlPassword();
void setControlPassword(const QString& password);

// The reader takes its pictures from image files the PC sent, not from its camera.
bool imageFileAcquisition();
void setImageFileAcquisition(bool files);

// The reader's "CALIBRATED" as the photometry window last read it.
bool readerCalibrated();
void setReaderCalibrated(bool calibrated);

// The program-wide parameter set: the pending set of the apply routine, into which the
// main window also loads the laser, beeper and trigger parameters.
vm::link::ParameterSet& globalParameters();

} // namespace vm::app
