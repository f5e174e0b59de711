// tovaksim: plays the antenna controller on a pseudo-terminal for the end-to-end
// tests and the demo. It sends what its script or its control channel tells it
// to, answers as the controller would with --model, and records every byte the
// program writes.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "model_settings.h"
#include "options.h"
#include "replay.h"
#include "sim_state.h"
#include "steps.h"

namespace {

using tovaksim::Clock;
using tovaksim::ControlLine;
using tovaksim::Options;
using tovaksim::SimState;

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

// The whole script is checked before the line opens, so a typing error stops the
// run instead of surfacing half-way through a test.
bool LoadScript(const std::string& path, SimState& state) {
    std::ifstream file(path);
    if (!file) {
        std::fprintf(stderr, "tovaksim: cannot read script %s\n", path.c_str());
        return false;
    }
    std::string line;
    int number = 0;
    bool valid = true;
    while (std::getline(file, line)) {
        ++number;
        tovaksim::Step step;
        std::string error;
        if (!tovaksim::ParseStep(line, step, error)) {
            std::fprintf(stderr, "tovaksim: %s:%d: %s\n", path.c_str(), number, error.c_str());
            valid = false;
        } else if (step.def != nullptr) {
            state.pending.push_back({ControlLine::kNoClient, number, line});
        }
    }
    return valid;
}

void RunPendingStep(SimState& state) {
    ControlLine line = std::move(state.pending.front());
    state.pending.pop_front();
    tovaksim::Step step;
    std::string error;
    state.stepAnswer.clear();
    bool ok = tovaksim::ParseStep(line.text, step, error) && tovaksim::RunStep(state, step, error);
    if (line.client != ControlLine::kNoClient) {
        std::string answer = state.stepAnswer.empty() ? "" : " " + state.stepAnswer;
        state.control.Reply(line.client, ok ? "ok" + answer : "error " + error);
    }
    if (!ok) {
        std::string where = line.client == ControlLine::kNoClient
                                ? "script line " + std::to_string(line.lineNumber)
                                : "control";
        state.recorder.Write(tovaksim::ElapsedMs(state), "error", where + ": " + error);
        std::fprintf(stderr, "tovaksim: %s: %s\n", where.c_str(), error.c_str());
    }
}

// The model's state at start; what a power setting reports reaches nobody.
bool SetUpModel(const Options& options, SimState& state) {
    state.modelOn = options.model;
    for (const auto& setting : options.settings) {
        std::string error;
        if (!tovaksim::ApplyModelSetting(state.model, setting.first, setting.second, Clock::now(),
                                         error)) {
            std::fprintf(stderr, "tovaksim: --%s\n", error.c_str());
            return false;
        }
    }
    state.model.output.clear();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    std::string error;
    if (!tovaksim::ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "tovaksim: %s\n%s", error.c_str(), tovaksim::Usage().c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(tovaksim::Usage().c_str(), stdout);
        return 0;
    }
    tovaksim::InstallStopSignals();

    SimState state;
    state.linkPath = options.link;
    state.relink = options.relink;
    state.random.seed(options.seed);
    if (!SetUpModel(options, state)) {
        return kExitUsage;
    }
    if (!options.record.empty() && !state.recorder.Open(options.record, error)) {
        std::fprintf(stderr, "tovaksim: %s\n", error.c_str());
        return kExitFailure;
    }
    if (!options.script.empty() && !LoadScript(options.script, state)) {
        return kExitUsage;
    }
    if (!options.replay.empty()) {
        std::string note;
        bool loaded =
            tovaksim::LoadReplay(options.replay, options.replaySpeed, state.replay, note, error);
        if (!loaded) {
            std::fprintf(stderr, "tovaksim: --replay %s\n", error.c_str());
            return kExitUsage;
        }
        if (!note.empty()) {
            std::fprintf(stderr, "tovaksim: --replay %s\n", note.c_str());
        }
    }
    if (!options.control.empty() && !state.control.Listen(options.control, error)) {
        std::fprintf(stderr, "tovaksim: %s\n", error.c_str());
        return kExitFailure;
    }
    bool opened = options.device.empty() ? state.link.Open(options.link, error)
                                         : state.link.OpenDevice(options.device, error);
    if (!opened) {
        std::fprintf(stderr, "tovaksim: %s\n", error.c_str());
        return kExitFailure;
    }
    tovaksim::Announce("ready " + state.link.SlavePath());

    while (!state.quit && !tovaksim::StopRequested()) {
        if (!state.pending.empty()) {
            RunPendingStep(state);
        } else {
            tovaksim::ServeUntilStep(state, Clock::now() + std::chrono::hours(1));
        }
    }
    // The link and the control socket remove themselves as the state goes.
    return state.exitCode;
}
