#pragma once

// How long a test waits for what the reader and the link promise, derived from their own
// time-outs instead of guessed. A test machine may be loaded (two cores, load 5 to 6) while
// the program and the in-process reader share one thread, so each bound allows the promise
// kLoadFactor times over. A wait only bounds how long a failing test takes: a passing one
// goes on as soon as its condition holds.
//
//     QTRY_COMPARE_WITH_TIMEOUT(reader->output().beeps(), before + 2,
//                               vm::testing::triggeredCycleWaitMs(500));

#include "link/protocol.h"

namespace vm::testing {

inline constexpr int kLoadFactor = 10;

// The reply to one command: the link gives up after its command time-out.
inline constexpr int kReplyWaitMs = link::kCommandTimeoutMs * kLoadFactor;

// A reader answering discovery: one probe every discovery interval, a reader vanishing after
// that many misses.
inline constexpr int kDiscoveryWaitMs =
    link::kDiscoveryInterval * link::kDiscoveryMissLimit * kLoadFactor / 2;

// A link opened (or re-opened after the longest back-off) and greeted.
inline constexpr int kConnectWaitMs =
    link::kReconnectMaxDelayMs + (link::kConnectTimeoutMs + link::kHandshakeTimeoutMs) * kLoadFactor / 4;

// `tries` reconnection attempts after a link was lost: the delay doubles from its first value
// up to its bound; each attempt may take its connect time-out.
constexpr int reconnectWaitMs(int tries) {
    int total = 0;
    for (int i = 0, delay = link::kReconnectFirstDelayMs; i < tries; ++i) {
        total += delay;
        delay = delay * 2 < link::kReconnectMaxDelayMs ? delay * 2 : link::kReconnectMaxDelayMs;
    }
    return total + kConnectWaitMs;
}

// One triggered read cycle of a reader whose read time-out (TIMEOUT READ) is `readTimeoutMs`
// (0: none, and the cycle is held to a command's time-out), and the reply to the trigger.
constexpr int triggeredCycleWaitMs(int readTimeoutMs) {
    return (readTimeoutMs > 0 ? readTimeoutMs : link::kCommandTimeoutMs) * kLoadFactor + kReplyWaitMs;
}

// `cycles` continuous read cycles of a reader cycling `perSecond` times a second.
constexpr int cyclesWaitMs(int cycles, int perSecond) {
    return cycles * 1000 / perSecond * kLoadFactor + kReplyWaitMs;
}

} // namespace vm::testing
