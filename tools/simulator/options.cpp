#include "options.h"

#include <cstdlib>

#include "controller_model.h"
#include "model_settings.h"
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
    {"--control", &Options::control},
};

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
        bool takesValue = argument == "--seed" ||
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
           "  --model           play the controller: answer the program's commands (below);\n"
           "                    the steps still run and mix with its answers\n"
           "  --help            this text\n"
           "Model settings (with --model; the step 'model NAME VALUE' changes one later):\n" +
           ModelSettingsUsage("--") +
           "On stdout: 'ready <slave or device>' once the line exists.\n"
           "Steps:\n" +
           StepUsage() +
           "Commands the model takes (each ends in ';'; '#' a digit), and its answers;\n"
           "refusals: Er001 unknown, Er002 motor or HOME, Er004 locked, Er005 motor or\n"
           "CALIBRATION, Er006 not locked; while off, all but SR, Md and POWER go unanswered:\n" +
           ModelCommandsUsage();
}

}  // namespace tovaksim
