// tovaksim: plays the antenna controller on a pseudo-terminal for the end-to-end
// tests and the demo. It sends what its script or its control channel tells it
// to, and records every byte the program writes.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "sim_state.h"
#include "steps.h"

namespace {

using tovaksim::ControlLine;
using tovaksim::SimState;

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

struct Options {
    std::string link;
    std::string record;
    std::string script;
    std::string control;
    bool relink = false;
    unsigned seed = 1;
};

void PrintUsage() {
    std::fprintf(stderr,
                 "usage: tovaksim --link PATH [--record FILE] [--script FILE] "
                 "[--control SOCKET] [--relink] [--seed N]\n"
                 "  --link PATH       symlink to the pty's slave (the COM port's mapping)\n"
                 "  --record FILE     one line per event: <ms> rx|tx <hex>, hangup, ...\n"
                 "  --script FILE     steps to run first, one a line ('#' starts a comment)\n"
                 "  --control SOCKET  Unix stream socket taking steps, one a line;\n"
                 "                    each is answered 'ok' or 'error <reason>' once run\n"
                 "  --relink          after a hangup, open a fresh pty under the same link\n"
                 "  --seed N          seed of the garbage bytes (default 1)\n"
                 "On stdout: 'ready <slave>' once the link exists.\n"
                 "Steps:\n%s",
                 tovaksim::StepUsage().c_str());
}

bool ParseOptions(int argc, char** argv, Options& options) {
    struct ValueOption {
        const char* name;
        std::string Options::*field;
    };
    static const ValueOption kValueOptions[] = {
        {"--link", &Options::link},
        {"--record", &Options::record},
        {"--script", &Options::script},
        {"--control", &Options::control},
    };
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--relink") {
            options.relink = true;
            continue;
        }
        if (argument == "--seed" && i + 1 < argc) {
            options.seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
            continue;
        }
        bool known = false;
        for (const ValueOption& option : kValueOptions) {
            if (argument == option.name && i + 1 < argc) {
                options.*option.field = argv[++i];
                known = true;
                break;
            }
        }
        if (!known) {
            return false;
        }
    }
    return !options.link.empty();
}

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
    bool ok = tovaksim::ParseStep(line.text, step, error) && tovaksim::RunStep(state, step, error);
    if (line.client != ControlLine::kNoClient) {
        state.control.Reply(line.client, ok ? "ok" : "error " + error);
    }
    if (!ok) {
        std::string where = line.client == ControlLine::kNoClient
                                ? "script line " + std::to_string(line.lineNumber)
                                : "control";
        state.recorder.Write(tovaksim::ElapsedMs(state), "error", where + ": " + error);
        std::fprintf(stderr, "tovaksim: %s: %s\n", where.c_str(), error.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        PrintUsage();
        return kExitUsage;
    }
    tovaksim::InstallStopSignals();

    SimState state;
    state.linkPath = options.link;
    state.relink = options.relink;
    state.random.seed(options.seed);
    std::string error;
    if (!options.record.empty() && !state.recorder.Open(options.record, error)) {
        std::fprintf(stderr, "tovaksim: %s\n", error.c_str());
        return kExitFailure;
    }
    if (!options.script.empty() && !LoadScript(options.script, state)) {
        return kExitUsage;
    }
    if (!options.control.empty() && !state.control.Listen(options.control, error)) {
        std::fprintf(stderr, "tovaksim: %s\n", error.c_str());
        return kExitFailure;
    }
    if (!state.link.Open(options.link, error)) {
        std::fprintf(stderr, "tovaksim: %s\n", error.c_str());
        return kExitFailure;
    }
    tovaksim::Announce("ready " + state.link.SlavePath());

    while (!state.quit && !tovaksim::StopRequested()) {
        if (!state.pending.empty()) {
            RunPendingStep(state);
        } else {
            tovaksim::ServeUntil(state, tovaksim::Clock::now() + std::chrono::hours(1),
                                 [&] { return !state.pending.empty(); });
        }
    }
    // The link and the control socket remove themselves as the state goes.
    return 0;
}
