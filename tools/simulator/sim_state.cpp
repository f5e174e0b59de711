#include "sim_state.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "escapes.h"

namespace tovaksim {
namespace {

constexpr size_t kChunk = 4096;
// Keeps memory bounded against a program that writes without end.
constexpr size_t kMaxReceived = 64u << 20;
constexpr auto kWriteStallLimit = std::chrono::seconds(10);

volatile sig_atomic_t gStopSignal = 0;
sigset_t gWaitMask;
bool gSignalsInstalled = false;

void OnStopSignal(int signal) {
    gStopSignal = signal;
}

void ReadFromProgram(SimState& state) {
    char buffer[kChunk];
    for (;;) {
        ssize_t count = read(state.link.MasterFd(), buffer, sizeof buffer);
        if (count > 0) {
            std::string bytes(buffer, static_cast<size_t>(count));
            state.recorder.Write(ElapsedMs(state), "rx", HexBytes(bytes));
            state.received += bytes;
            if (state.received.size() > kMaxReceived) {
                size_t drop = state.received.size() - kMaxReceived / 2;
                state.received.erase(0, drop);
                state.expectFrom = state.expectFrom > drop ? state.expectFrom - drop : 0;
            }
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && errno != EAGAIN) {
            // EIO without a slave cannot happen while we hold one; never spin on it.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return;
    }
}

// One wait on the line and the control channel; returns whether the line can take bytes.
bool PollOnce(SimState& state, Clock::duration wait, bool wantWrite) {
    std::vector<pollfd> fds;
    bool watchLine = state.link.IsOpen() && (!state.stalled || wantWrite);
    if (watchLine) {
        short events = static_cast<short>((state.stalled ? 0 : POLLIN) | (wantWrite ? POLLOUT : 0));
        fds.push_back({state.link.MasterFd(), events, 0});
    }
    size_t controlFirst = fds.size();
    state.control.AddPollFds(fds);

    auto nanoseconds =
        std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count());
    timespec timeout{static_cast<time_t>(nanoseconds / 1000000000),
                     static_cast<long>(nanoseconds % 1000000000)};
    int ready = ppoll(fds.data(), fds.size(), &timeout, gSignalsInstalled ? &gWaitMask : nullptr);
    if (ready <= 0) {
        return false;
    }
    bool writable = false;
    if (watchLine) {
        short events = fds[0].revents;
        if (!state.stalled && (events & (POLLIN | POLLHUP | POLLERR))) {
            ReadFromProgram(state);
        }
        writable = (events & POLLOUT) != 0;
    }
    state.control.HandlePoll(fds, controlFirst, state.pending);
    return writable;
}

}  // namespace

double ElapsedMs(const SimState& state) {
    return std::chrono::duration<double, std::milli>(Clock::now() - state.start).count();
}

void Announce(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void ServeUntil(SimState& state, Clock::time_point deadline, const std::function<bool()>& done) {
    while (!StopRequested() && !(done && done())) {
        auto now = Clock::now();
        if (now >= deadline) {
            return;
        }
        PollOnce(state, deadline - now, false);
    }
}

bool WriteToProgram(SimState& state, const std::string& bytes, std::string& error) {
    size_t written = 0;
    auto lastProgress = Clock::now();
    while (written < bytes.size()) {
        if (!state.link.IsOpen()) {
            error = "the line is hung up";
            return false;
        }
        if (StopRequested()) {
            error = "stopped";
            return false;
        }
        size_t size = std::min(kChunk, bytes.size() - written);
        ssize_t count = write(state.link.MasterFd(), bytes.data() + written, size);
        if (count > 0) {
            state.recorder.Write(ElapsedMs(state), "tx",
                                 HexBytes(bytes.substr(written, static_cast<size_t>(count))));
            written += static_cast<size_t>(count);
            lastProgress = Clock::now();
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR) {
            error = std::string("write: ") + std::strerror(errno);
            return false;
        }
        if (Clock::now() - lastProgress > kWriteStallLimit) {
            error = "the program stopped reading after " + std::to_string(written) + " of " +
                    std::to_string(bytes.size()) + " bytes";
            return false;
        }
        PollOnce(state, std::chrono::milliseconds(100), true);
    }
    return true;
}

void InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, &gWaitMask);
    sigdelset(&gWaitMask, SIGTERM);
    sigdelset(&gWaitMask, SIGINT);
    gSignalsInstalled = true;
}

bool StopRequested() {
    return gStopSignal != 0;
}

}  // namespace tovaksim
