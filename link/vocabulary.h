#pragma once

// Words the program's windows share about readers: the broadcast messages that keep
// the windows of one process consistent, and the firmware levels at which readers
// gained the features that windows look for.
namespace vm::link {

namespace broadcast {
inline constexpr char UpdateIO[] = "UPDATEIO";
inline constexpr char UpdateLaser[] = "UPDATELASER";
inline constexpr char UpdateBeep[] = "UPDATEBEEP";
inline constexpr char UpdatePhoto[] = "UPDATEPHOTO";
inline constexpr char UpdateTimeout[] = "UPDATETIMEOUT";
inline constexpr char UpdateRetry[] = "UPDATERETRY";
inline constexpr char UpdateAppMode[] = "UPDATEAPPMODE";
inline constexpr char UpdateBarcodes[] = "UPDATEBC";
inline constexpr char UpdateDropWhenBusy[] = "UPDATEDROPWHENBUSY";
inline constexpr char ScheduleUpdate[] = "SCHEDULEUPDATE";
inline constexpr char Unlearn[] = "UNLEARN";
inline constexpr char Roi[] = "ROI";
inline constexpr char Calibrated[] = "CALIBRATED";
inline constexpr char Uncalibrated[] = "UNCALIBRATED";
inline constexpr char VerificationOn[] = "VERIFICATION_ON";
inline constexpr char VerificationOff[] = "VERIFICATION_OFF";
inline constexpr char DebugMessage[] = "DEBUGMSG";
} // namespace broadcast

// Firmware levels (0 when no reader is connected, 99 for development software).
namespace level {
inline constexpr int None = 0;
// Beep control and the output format editor; older readers use the output dialog.
inline constexpr int FormatEditor = 3;
// Print-quality grading, the IO assignment window and the external lights.
inline constexpr int Verification = 4;
// The factory blocks of the manufacturing settings viewer (the About box's Details).
inline constexpr int ManufacturingSettings = 4;
// The decoder tuning's polarity, check-sum and QR grids and its further rows.
inline constexpr int ExtendedTuning = 4;
// The negative-image option.
inline constexpr int NegativeImage = 5;
// The CALIBRATE input and the verification rows that need it.
inline constexpr int CalibrateInput = 6;
// The contrast report, cell unit report and aperture rows of the decoder tuning are read.
inline constexpr int ReportTuning = 6;
// Further match strings and the match bits of the IO lines.
inline constexpr int MatchList = 7;
// The decoder tuning's UPC-as-EAN grid.
inline constexpr int UpcAsEanTuning = 7;
// The DPM verification standard is called "DPM"; older readers call it "KVTA".
inline constexpr int DpmStandardName = 7;
// The light-control bits of the IO lines.
inline constexpr int LightControl = 8;
// The AIM DPM verification standard is called "AIMDPM"; older readers call it "ISOAIM".
inline constexpr int AimDpmStandardName = 8;
// Calibration status, "UPDATEDROPWHENBUSY" and the verification standard in windows.
inline constexpr int Calibration = 9;
// Images and reports travel in the current form; older readers need the channels'
// legacy switch.
inline constexpr int CurrentTransfer = 9;
inline constexpr int Current = 10;
inline constexpr int Development = 99;
} // namespace level

} // namespace vm::link
