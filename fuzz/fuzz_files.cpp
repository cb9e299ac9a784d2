// Files the program reads: settings and registry files in the INI form.
#include "app/inifile.h"
#include "fuzz/fuzzentry.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vm::fuzz::ensureApplication();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const vm::app::IniDocument doc = vm::app::IniDocument::parse(bytes);
    // What was read survives a write and a read unchanged.
    const QByteArray once = doc.serialize();
    const QByteArray twice = vm::app::IniDocument::parse(once).serialize();
    if (once != twice)
        std::abort();
    return 0;
}
