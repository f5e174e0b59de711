// Test helpers: a simulator line in a private folder, and the program's end of it
// opened through the link the way Wine opens a mapped COM port.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "sim_state.h"
#include "unique_fd.h"

namespace tovaksim {

class TempFolder {
  public:
    TempFolder() {
        char pattern[] = "/tmp/tovaksim-test-XXXXXX";
        char* made = mkdtemp(pattern);
        path_ = made != nullptr ? made : "";
    }
    ~TempFolder() {
        if (!path_.empty()) {
            std::string command = "rm -rf '" + path_ + "'";
            (void)!system(command.c_str());
        }
    }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

inline UniqueFd OpenProgramEnd(const std::string& link) {
    return UniqueFd(open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
}

// Everything readable on fd within waitMs (stops early once `want` bytes came).
inline std::string ReadAvailable(int fd, int waitMs, size_t want = static_cast<size_t>(-1)) {
    std::string bytes;
    auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    while (bytes.size() < want) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char buffer[4096];
        ssize_t count = read(fd, buffer, sizeof buffer);
        if (count <= 0) {
            break;
        }
        bytes.append(buffer, static_cast<size_t>(count));
    }
    return bytes;
}

}  // namespace tovaksim
