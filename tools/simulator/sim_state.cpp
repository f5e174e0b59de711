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

// A serial device that fails (unplugged, or another program's pty closed) ends the
// run: there is nobody left to play the controller for.
void LoseDevice(SimState& state, const std::string& reason) {
    std::string detail = state.link.SlavePath() + ": " + reason;
    state.recorder.Write(ElapsedMs(state), "hangup", detail);
    std::fprintf(stderr, "tovaksim: %s\n", detail.c_str());
    state.link.Close();
    state.quit = true;
    state.exitCode = 1;
}

void ReadFromProgram(SimState& state) {
    char buffer[kChunk];
    while (state.link.IsOpen()) {
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
            if (state.modelOn) {
                ModelReceive(state.model, bytes, Clock::now());
            }
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (state.link.IsDevice() && (count == 0 || errno != EAGAIN)) {
            LoseDevice(state, count == 0 ? "the device hung up" : std::strerror(errno));
            return;
        }
        if (count < 0 && errno != EAGAIN) {
            // EIO without a slave cannot happen while we hold one; never spin on it.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return;
    }
}

// The model writes by itself only between steps' writes, and not while the line
// stalls or a stream is in the middle of a message.
bool ModelMayWrite(const SimState& state, bool stepWriting) {
    return state.modelOn && !stepWriting && !state.stalled && !state.modelOutputHeld &&
           state.link.IsOpen() && !state.model.output.empty();
}

// Writes what the line takes now of the model's messages; the rest waits.
void WriteModelOutput(SimState& state) {
    std::string& output = state.model.output;
    while (!output.empty() && state.link.IsOpen()) {
        ssize_t count =
            write(state.link.MasterFd(), output.data(), std::min(kChunk, output.size()));
        if (count > 0) {
            size_t written = static_cast<size_t>(count);
            state.recorder.Write(ElapsedMs(state), "tx", HexBytes(output.substr(0, written)));
            output.erase(0, written);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            if (count < 0 && errno != EAGAIN && state.link.IsDevice()) {
                LoseDevice(state, std::strerror(errno));
            }
            return;
        }
    }
}

// Runs the model's events that fell due and sends what it has to say.
void ServeModel(SimState& state, bool stepWriting) {
    if (!state.modelOn) {
        return;
    }
    ModelAdvance(state.model, Clock::now());
    if (!state.link.IsOpen()) {
        state.model.output.clear();  // nobody on the line to hear it
    } else if (ModelMayWrite(state, stepWriting)) {
        WriteModelOutput(state);
    }
}

// One wait on the line and the control channel; returns whether the line can take bytes.
bool PollOnce(SimState& state, Clock::duration wait, bool wantWrite) {
    std::vector<pollfd> fds;
    bool watchLine = state.link.IsOpen() && (!state.stalled || wantWrite);
    bool modelWrites = ModelMayWrite(state, wantWrite);
    if (watchLine) {
        short events = static_cast<short>((state.stalled ? 0 : POLLIN) |
                                          (wantWrite || modelWrites ? POLLOUT : 0));
        fds.push_back({state.link.MasterFd(), events, 0});
    }
    size_t controlFirst = fds.size();
    state.control.AddPollFds(fds);
    Clock::time_point due;
    if (state.modelOn && ModelNextDue(state.model, due)) {
        wait = std::min(wait, due - Clock::now());
    }

    auto nanoseconds =
        std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count());
    timespec timeout{static_cast<time_t>(nanoseconds / 1000000000),
                     static_cast<long>(nanoseconds % 1000000000)};
    int ready = ppoll(fds.data(), fds.size(), &timeout, gSignalsInstalled ? &gWaitMask : nullptr);
    bool writable = false;
    if (ready > 0) {
        if (watchLine) {
            short events = fds[0].revents;
            if (!state.stalled && (events & (POLLIN | POLLHUP | POLLERR))) {
                ReadFromProgram(state);
            }
            if (state.link.IsDevice() && (events & (POLLHUP | POLLERR | POLLNVAL))) {
                LoseDevice(state, "the device hung up");
            }
            writable = (events & POLLOUT) != 0;
        }
        state.control.HandlePoll(fds, controlFirst, state.pending);
    }
    ServeModel(state, wantWrite);
    return writable;
}

bool WriteAll(SimState& state, const std::string& bytes, std::string& error) {
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

}  // namespace

double ElapsedMs(const SimState& state) {
    return std::chrono::duration<double, std::milli>(Clock::now() - state.start).count();
}

void Announce(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void ServeUntil(SimState& state, Clock::time_point deadline, const std::function<bool()>& done) {
    while (!StopRequested() && !state.quit && !(done && done())) {
        auto now = Clock::now();
        if (now >= deadline) {
            return;
        }
        PollOnce(state, deadline - now, false);
    }
}

bool WriteToProgram(SimState& state, const std::string& bytes, std::string& error) {
    if (state.modelOn && !state.modelOutputHeld && !state.model.output.empty()) {
        std::string messages;
        messages.swap(state.model.output);
        if (!WriteAll(state, messages, error)) {
            return false;
        }
    }
    return WriteAll(state, bytes, error);
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
