#pragma once

#include <QString>

namespace vm::link {
class CommandResponse;
}

namespace vm::settings {

// The name of the one barcode an enabled-barcode mask ("0x2") enables, "MULTIPLE" for
// more than one, empty for none. Bits above 0x800 have no name.
QString barcodeSummaryName(const QString& mask);
// The same for the reader's current "BARCODE ENABLE".
QString readerBarcodeSummary(vm::link::CommandResponse& channel);

} // namespace vm::settings
