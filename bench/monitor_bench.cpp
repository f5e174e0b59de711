// How long the receive path takes natively, against the recording fake
// platform: one full read of status messages split and interpreted (a poll tick
// has 100 ms; the goal is under 50 microseconds), and one read of the status
// the controller sends after a key press, the common case.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "app/state.h"
#include "fake_platform.h"
#include "monitor/protocol.h"

namespace {

constexpr std::size_t kFullRead = 4095;

// A controller's status reports as they come after key presses and polls.
const char* const kStatusMessages[] = {
    "Pw1;",
    "Bm1;",
    "Tm0;",
    "Fq40m    7.050 MHz;",
    "Mt1;",
    "Mt0;",
    "Ud3;",
    "Ud2;",
    "Bm2;",
    "Tm1;",
    "Sn1234;",
    "Ve1.08.0001;",
    "MdKYRAL Beam 1    ;",
    "EaEle1    Ele2    Ele3    Ele4    Ele5    Ele6    ;",
    "Cp06,11.10,11.20,11.30,11.40,11.50,11.60;",
    "Fq20m   14.100 mhz;",
    "Cf0;",
    "Se0;",
    "Hm0;",
    "Hm1;",
    "Fq 6m   50.100 MHz;",
};

// What one poll reads after the controller has answered a status request.
constexpr char kStatusRead[] = "Pw1;Bm1;Tm0;Fq40m    7.050 MHz;";

// Status messages up to exactly one full read; a serial number report with
// an opaque head fills the last bytes.
std::string FullRead() {
    std::string read;
    for (std::size_t i = 0;; ++i) {
        const std::string next = kStatusMessages[i % std::size(kStatusMessages)];
        if (read.size() + next.size() + 3 > kFullRead) {
            break;
        }
        read += next;
    }
    read += "Sn" + std::string(kFullRead - read.size() - 3, '0') + ";";
    return read;
}

// Keeps the fake's records from growing over millions of reads.
void ForgetFakeRecords() {
    fake.timerLog.clear();
    fake.displayBrushes.clear();
}

void SplitAndInterpretFullRead(benchmark::State& state) {
    ResetFake();
    const std::string read = FullRead();
    if (read.size() != kFullRead) {
        state.SkipWithError("the read is not one full read");
        return;
    }
    for (auto _ : state) {
        ReceiveMessages(read);
        ForgetFakeRecords();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * read.size()));
    state.counters["messages"] = static_cast<double>(std::count(read.begin(), read.end(), ';'));
}
BENCHMARK(SplitAndInterpretFullRead)->Unit(benchmark::kMicrosecond);

void InterpretStatusRead(benchmark::State& state) {
    ResetFake();
    const std::string read = kStatusRead;
    for (auto _ : state) {
        ReceiveMessages(read);
        ForgetFakeRecords();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * read.size()));
}
BENCHMARK(InterpretStatusRead)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
