// Arbitrary reads through the message splitter, cut at arbitrary places: the
// kept rest never holds a terminator and never grows past one read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/state.h"
#include "fake_platform.h"
#include "monitor/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ResetFake();
    std::size_t offset = 0;
    // The first byte of each chunk gives its length: reads of any size and cut.
    while (offset < size) {
        const std::size_t length = 1 + data[offset] % 64;
        ++offset;
        const std::size_t take = length < size - offset ? length : size - offset;
        ReceiveMessages(std::string(reinterpret_cast<const char*>(data + offset), take));
        offset += take;
        if (app.pendingMessage.find(';') != std::string::npos || app.pendingMessage.size() > 4095) {
            std::abort();
        }
    }
    return 0;
}
