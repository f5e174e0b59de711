#include "options.h"

#include <cstdlib>

#include "controller_model.h"
#include "model_settings.h"
#include "replay.h"
#include "steps.h"

namespace tovaksim {
namespace {

struct ValueOption {
    const char* name;
    std::string Options::*field;
};
const ValueOption kValueOptions[] = {
    {"--link", &Options::link},       {"--device", &Options::device},
    {"--record", &Options::record},   {"--script", &Options::script},
    {"--control", &Options::control}, {"--replay", &Options::replay},
};

constexpr char kSpeedOption[] = "--replay-speed";
constexpr double kMinReplaySpeed = 0.01;
constexpr double kMaxReplaySpeed = 1000;

struct FlagOption {
    const char* name;
    bool Options::*field;
};
const FlagOption kFlagOptions[] = {
    {"--relink", &Options::relink},
    {"--model", &Options::model},
    {"--help", &Options::help},
};

bool ParseSeed(const std::string& text, unsigned& seed) {
    bool digits = !text.empty() && text.size() <= 9;
    for (char c : text) {
        digits = digits && c >= '0' && c <= '9';
    }
    if (digits) {
        seed = static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10));
    }
    return digits;
}

// A plain decimal number: digits with at most one point, no sign or exponent.
bool ParseSpeed(const std::string& text, double& speed) {
    bool digits = !text.empty() && text.size() <= 12 && text != ".";
    size_t points = 0;
    for (char c : text) {
        points += c == '.';
        digits = digits && ((c >= '0' && c <= '9') || c == '.');
    }
    if (!digits || points > 1) {
        return false;
    }
    speed = std::strtod(text.c_str(), nullptr);
    return speed >= kMinReplaySpeed && speed <= kMaxReplaySpeed;
}

bool CheckCombination(const Options& options, std::string& error) {
    if (options.link.empty() == options.device.empty()) {
        error = options.link.empty() ? "give --link PATH or --device PATH"
                                     : "--link and --device exclude each other";
        return false;
    }
    if (options.relink && !options.device.empty()) {
        error = "--relink makes fresh ptys; it has no meaning with --device";
        return false;
    }
    if (!options.replay.empty() && options.model) {
        error = "--replay plays the controller's side from the log: leave out --model";
        return false;
    }
    if (options.replaySpeed != 1 && options.replay.empty()) {
        error = "--replay-speed sets the pace of a replay: add --replay LOG";
        return false;
    }
    if (!options.settings.empty() && !options.model) {
        error = "--" + options.settings.front().first + " sets up the model: add --model";
        return false;
    }
    return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        bool known = false;
        for (const FlagOption& option : kFlagOptions) {
            if (argument == option.name) {
                options.*option.field = true;
                known = true;
            }
        }
        if (known) {
            continue;
        }
        bool takesValue = argument == "--seed" || argument == kSpeedOption ||
                          (argument.rfind("--", 0) == 0 && IsModelSetting(argument.substr(2)));
        for (const ValueOption& option : kValueOptions) {
            takesValue = takesValue || argument == option.name;
        }
        if (!takesValue) {
            error = "unknown option '" + argument + "'";
            return false;
        }
        if (i + 1 >= argc) {
            error = argument + " needs a value";
            return false;
        }
        std::string value = argv[++i];
        if (argument == "--seed") {
            if (!ParseSeed(value, options.seed)) {
                error = "--seed takes a number, not '" + value + "'";
                return false;
            }
            continue;
        }
        if (argument == kSpeedOption) {
            if (!ParseSpeed(value, options.replaySpeed)) {
                error = std::string(kSpeedOption) + " takes a number from 0.01 to 1000, not '" +
                        value + "'";
                return false;
            }
            continue;
        }
        known = false;
        for (const ValueOption& option : kValueOptions) {
            if (argument == option.name) {
                options.*option.field = value;
                known = true;
            }
        }
        if (!known) {
            options.settings.emplace_back(argument.substr(2), value);
        }
    }
    return options.help || CheckCombination(options, error);
}

std::string Usage() {
    return "usage: tovaksim (--link PATH | --device PATH) [options]\n"
           "  --link PATH       a fresh pty, its slave symlinked at PATH (the COM port's mapping)\n"
           "  --device PATH     an existing serial device or pty instead, set raw 115200 8N1;\n"
           "                    run with --model it plays the controller on a real line\n"
           "  --record FILE     one line per event: <ms> rx|tx <hex>, hangup, stream, error\n"
           "  --script FILE     steps to run first, one a line ('#' starts a comment)\n"
           "  --control SOCKET  Unix stream socket taking steps, one a line; each is\n"
           "                    answered 'ok' (a stream: 'ok N messages M bytes') or\n"
           "                    'error <reason>' once run\n"
           "  --relink          after a hangup, open a fresh pty under the same link\n"
           "  --seed N          seed of the garbage bytes and the stream (default 1)\n"
           "  --replay LOG      play a debug log's R lines back to the program, starting at\n"
           "                    its first write (the status request as it connects); see\n"
           "                    'Replay' below; not with --model\n"
           "  --replay-speed F  play it F times as fast (0.01 to 1000; default 1)\n"
           "  --model           play the controller: answer the program's commands (below);\n"
           "                    the steps still run and mix with its answers\n"
           "  --help            this text\n"
           "Model settings (with --model; the step 'model NAME VALUE' changes one later):\n" +
           ModelSettingsUsage("--") +
           "On stdout: 'ready <slave or device>' once the line exists.\n"
           "Steps:\n" +
           StepUsage() + ReplayUsage() +
           "Commands the model takes (each ends in ';'; '#' a digit), and its answers;\n"
           "refusals: Er001 unknown, Er002 motor or HOME, Er004 locked, Er005 motor or\n"
           "CALIBRATION, Er006 not locked; while off, all but SR, Md and POWER go unanswered:\n" +
           ModelCommandsUsage();
}

}  // namespace tovaksim
