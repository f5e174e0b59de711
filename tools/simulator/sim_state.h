// Everything the simulator knows, in one record, and the I/O loop that keeps the
// line drained while a step waits.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <random>
#include <string>

#include "control_socket.h"
#include "controller_model.h"
#include "pty_link.h"
#include "recorder.h"
#include "replay.h"

namespace tovaksim {

struct SimState {
    std::string linkPath;
    bool relink = false;  // after a hang-up, open a fresh pty under the same link
    PtyLink link;
    Recorder recorder;
    ControlServer control;
    std::deque<ControlLine> pending;  // steps not run yet: the script's, then the channel's
    std::string received;             // every byte the program wrote, in order
    size_t expectFrom = 0;            // where the next expect starts looking in received
    bool stalled = false;             // a silence step: the line is not read
    bool quit = false;
    int exitCode = 0;
    std::string stepAnswer;  // what the step that runs adds to its "ok"
    bool modelOn = false;    // the controller model answers the program
    ModelState model;
    // The model's messages wait while a stream stands in the middle of one of its own.
    bool modelOutputHeld = false;
    Replay replay;  // a debug log played back (--replay)
    std::mt19937 random{1};
    Clock::time_point start = Clock::now();
};

double ElapsedMs(const SimState& state);

// Prints a line on stdout at once: how the harness learns that the link exists.
void Announce(const std::string& line);

// Keeps reading the line and the control channel until deadline, until done()
// holds, until the run ends (a quit, a lost device) or a stop signal arrives. With the model on, it
// also runs the model's timed events when they fall due and writes its messages.
void ServeUntil(SimState& state, Clock::time_point deadline, const std::function<bool()>& done);

// Writes every byte, reading the line meanwhile so neither side blocks; the
// model's messages under way go first, so these bytes never split one.
// Fails if the line is hung up or the program takes nothing for several seconds.
bool WriteToProgram(SimState& state, const std::string& bytes, std::string& error);

// Stop signals (SIGTERM, SIGINT): blocked except while the loop waits, so one
// always ends the wait instead of slipping in between.
void InstallStopSignals();
bool StopRequested();

}  // namespace tovaksim
