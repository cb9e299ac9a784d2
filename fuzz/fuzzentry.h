#pragma once

// Every fuzz target defines the libFuzzer entry point; the replay program (replay.cpp)
// calls the same function for each stored input, so the ordinary compiler runs them too.

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace vm::fuzz {
// A Qt application object for targets that need an event loop's objects; made once.
void ensureApplication();
} // namespace vm::fuzz
