// Any text through ParseNumber, its value back through FormatNumber and the
// settings conversions: no fault, no unbounded text, no value out of range.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/settings.h"
#include "text/number.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const double value = ParseNumber(text);
    const std::string shown = FormatNumber(value);
    if (shown.size() > 22) {
        std::abort();
    }
    // Every 32-bit whole number (all the program ever writes: dates, times,
    // the keep-alive period, the motor counter) reads back as itself. Larger
    // ones may not: the digit-by-digit scaling drifts in the last places.
    if (std::fabs(value) <= 4294967296.0 && value == std::trunc(value)) {
        if (ParseNumber(shown) != value) {
            std::abort();
        }
    }
    const std::int32_t keepAlive = KeepAliveFromSetting(text);
    if (keepAlive != 0 && keepAlive < 1000) {
        std::abort();
    }
    (void)DebugFromSetting(text);
    return 0;
}
