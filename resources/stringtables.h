#pragma once

#include <cstddef>

// The compiled string tables. The definitions are generated at build time from
// resources/strings.en.txt (see docs/strings.md); only resources/strings.cpp reads them.
namespace vm::res::detail {

struct StringTableEntry {
    int number;
    const char* text; // UTF-8
};

extern const StringTableEntry englishTable[];
extern const std::size_t englishTableSize;
extern const StringTableEntry testTable[];
extern const std::size_t testTableSize;

} // namespace vm::res::detail
