#pragma once

// Program-wide reader state lives in app/programstate.h (namespace vm::app). This
// forward remains only until the last file that includes it follows; no new code
// includes it.
#include "app/programstate.h"

namespace vm::shell {
using vm::app::calibrationText;
using vm::app::controlPassword;
using vm::app::firmwareLevel;
using vm::app::globalParameters;
using vm::app::imageFileAcquisition;
using vm::app::kAimDpmStandard;
using vm::app::readerCalibrated;
using vm::app::setCalibrationText;
using vm::app::setControlPassword;
using vm::app::setFirmwareLevel;
using vm::app::setImageFileAcquisition;
using vm::app::setReaderCalibrated;
using vm::app::setVerificationEnabled;
using vm::app::setVerificationStandard;
using vm::app::verificationAvailable;
using vm::app::verificationEnabled;
using vm::app::verificationStandard;
using vm::app::VerificationStandardCode;
} // namespace vm::shell
