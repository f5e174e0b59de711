#include "steps.h"

#include <algorithm>
#include <cstdlib>

#include "escapes.h"
#include "model_settings.h"
#include "stream.h"

namespace tovaksim {

// What follows a step's name on its line.
enum class Args {
    kNone,
    kText,        // the rest of the line, escapes decoded
    kNumber,      // one decimal number
    kTextNumber,  // a text, then a number after the last blank
    kNumberText,  // a number, then an optional text
};

using StepRun = bool (*)(SimState&, const Step&, std::string&);

struct StepDef {
    const char* name;
    Args args;
    long long minNumber;
    long long maxNumber;
    const char* usage;
    StepRun run;
};

namespace {

constexpr long long kMaxMs = 600000;
constexpr long long kMaxStreamSeconds = 600;
constexpr long long kMaxBytes = 16LL << 20;
constexpr auto kSplitPause = std::chrono::milliseconds(30);
constexpr char kFloodFiller[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";

Clock::time_point After(long long ms) {
    return Clock::now() + std::chrono::milliseconds(ms);
}

bool RunSend(SimState& state, const Step& step, std::string& error) {
    return WriteToProgram(state, step.bytes, error);
}

bool RunSendSplit(SimState& state, const Step& step, std::string& error) {
    size_t first = static_cast<size_t>(step.number);
    if (first >= step.bytes.size()) {
        error = "the split point must lie inside the text (1 to " +
                std::to_string(step.bytes.size() - 1) + ")";
        return false;
    }
    if (!WriteToProgram(state, step.bytes.substr(0, first), error)) {
        return false;
    }
    ServeUntil(state, Clock::now() + kSplitPause, nullptr);
    return WriteToProgram(state, step.bytes.substr(first), error);
}

bool RunDelay(SimState& state, const Step& step, std::string&) {
    ServeUntil(state, After(step.number), nullptr);
    return true;
}

bool RunGarbage(SimState& state, const Step& step, std::string& error) {
    std::string bytes(static_cast<size_t>(step.number), '\0');
    std::uniform_int_distribution<int> byte(0, 255);
    for (char& c : bytes) {
        c = static_cast<char>(byte(state.random));
    }
    return WriteToProgram(state, bytes, error);
}

bool RunFlood(SimState& state, const Step& step, std::string& error) {
    const std::string pattern = step.bytes.empty() ? kFloodFiller : step.bytes;
    std::string bytes;
    bytes.reserve(static_cast<size_t>(step.number));
    while (bytes.size() < static_cast<size_t>(step.number)) {
        bytes += pattern;
    }
    bytes.resize(static_cast<size_t>(step.number));
    return WriteToProgram(state, bytes, error);
}

bool RunSilence(SimState& state, const Step& step, std::string&) {
    state.stalled = true;
    ServeUntil(state, After(step.number), nullptr);
    state.stalled = false;
    return true;
}

// A fresh pty under the same link: the adapter plugged back in. The program
// reaches it only by opening the port again.
bool OpenFreshLine(SimState& state, std::string& error) {
    if (!state.link.Open(state.linkPath, error)) {
        return false;
    }
    state.recorder.Write(ElapsedMs(state), "relink", state.link.SlavePath());
    Announce("relinked " + state.link.SlavePath());
    return true;
}

bool RunHangup(SimState& state, const Step&, std::string& error) {
    if (!state.link.IsOpen()) {
        error = "the line is already hung up";
        return false;
    }
    state.recorder.Write(ElapsedMs(state), "hangup", "");
    // Whatever the controller was saying or hearing goes with the line.
    state.model.rest.clear();
    state.model.output.clear();
    if (!state.relink) {
        state.link.Close();
        return true;
    }
    state.link.Close(PtyLink::Link::kKeep);
    return OpenFreshLine(state, error);
}

bool RunPlug(SimState& state, const Step&, std::string& error) {
    if (state.link.IsOpen()) {
        error = "the line is plugged in";
        return false;
    }
    if (state.linkPath.empty()) {
        error = "a serial device cannot be plugged back: only a --link line can";
        return false;
    }
    return OpenFreshLine(state, error);
}

bool RunExpect(SimState& state, const Step& step, std::string& error) {
    size_t found = std::string::npos;
    auto seen = [&] {
        found = state.received.find(step.bytes, state.expectFrom);
        return found != std::string::npos;
    };
    ServeUntil(state, After(step.number), seen);
    if (!seen()) {
        error = "timeout: not received after " + std::to_string(step.number) + " ms";
        return false;
    }
    state.expectFrom = found + step.bytes.size();
    return true;
}

bool RunStream(SimState& state, const Step& step, std::string& error) {
    // As many bytes as the line carries in that time, then the rest of the last
    // message; a stall of the program's reads makes it take longer, not shorter.
    StreamSource source;
    auto start = Clock::now();
    const size_t total = LineBytes(step.number);
    size_t bytes = 0;
    size_t messages = 0;
    bool ok = true;
    for (;;) {
        std::string chunk =
            NextStreamChunk(source, state.random, bytes < total ? total - bytes : 0);
        if (chunk.empty()) {
            break;
        }
        ServeUntil(state, PacedWriteTime(start, bytes, chunk.size(), Clock::now()), nullptr);
        if (StopRequested()) {
            error = "stopped";
            ok = false;
            break;
        }
        if (!WriteToProgram(state, chunk, error)) {
            ok = false;
            break;
        }
        bytes += chunk.size();
        messages += static_cast<size_t>(std::count(chunk.begin(), chunk.end(), ';'));
        // The model's own messages may go only where one of the stream's has ended.
        state.modelOutputHeld = chunk.back() != ';';
    }
    state.modelOutputHeld = false;
    std::string counts = std::to_string(messages) + " messages " + std::to_string(bytes) + " bytes";
    state.recorder.Write(ElapsedMs(state), "stream", counts);
    state.stepAnswer = counts;
    if (!ok) {
        error += " (after " + counts + ")";
    }
    return ok;
}

bool ModelIsOn(const SimState& state, std::string& error) {
    if (!state.modelOn) {
        error = "the controller model is off (start with --model)";
    }
    return state.modelOn;
}

bool RunModel(SimState& state, const Step& step, std::string& error) {
    size_t blank = step.bytes.find(' ');
    if (blank == std::string::npos) {
        error = "needs a setting and its value";
        return false;
    }
    if (!ModelIsOn(state, error)) {
        return false;
    }
    ModelAdvance(state.model, Clock::now());
    return ApplyModelSetting(state.model, step.bytes.substr(0, blank), step.bytes.substr(blank + 1),
                             Clock::now(), error);
}

bool RunPress(SimState& state, const Step& step, std::string& error) {
    if (!ModelIsOn(state, error)) {
        return false;
    }
    // Written as the program would send it, the terminator is no part of the code.
    std::string code = step.bytes;
    if (code.back() == ';') {
        code.pop_back();
    }
    ModelAdvance(state.model, Clock::now());
    ModelCommand(state.model, code, Clock::now());
    return true;
}

bool RunQuit(SimState& state, const Step&, std::string&) {
    state.quit = true;
    return true;
}

constexpr StepDef kSteps[] = {
    {"send", Args::kText, 0, 0, "TEXT  write TEXT (escapes \\r \\n \\t \\\\ \\xHH)", RunSend},
    {"sendsplit", Args::kTextNumber, 1, kMaxBytes,
     "TEXT N  write the first N bytes, pause 30 ms, write the rest", RunSendSplit},
    {"delay", Args::kNumber, 0, kMaxMs, "MS  wait, still reading the line", RunDelay},
    {"garbage", Args::kNumber, 1, kMaxBytes, "N  write N pseudo-random bytes", RunGarbage},
    {"flood", Args::kNumberText, 1, kMaxBytes,
     "N [TEXT]  write N bytes repeating TEXT (default A-Z, no ';')", RunFlood},
    {"silence", Args::kNumber, 0, kMaxMs, "MS  stall: neither read nor answer the line for MS ms",
     RunSilence},
    {"hangup", Args::kNone, 0, 0, " close the pty (a fresh one with --relink): the adapter pulled",
     RunHangup},
    {"plug", Args::kNone, 0, 0,
     " after a hangup, a fresh pty under the same link: the adapter plugged back", RunPlug},
    {"expect", Args::kTextNumber, 0, kMaxMs,
     "TEXT MS  wait until TEXT arrives after the last expect's match", RunExpect},
    {"stream", Args::kNumber, 1, kMaxStreamSeconds,
     "SECONDS  write SECONDS x 11520 bytes of status messages at 11520 bytes/s,\n"
     "    cut at random points; answers and records 'N messages M bytes'",
     RunStream},
    {"model", Args::kText, 0, 0, "NAME VALUE  change a model setting (see the options)", RunModel},
    {"press", Args::kText, 0, 0,
     "CODE  a key or command given on the controller itself, as if the program sent it", RunPress},
    {"quit", Args::kNone, 0, 0, " end the simulator", RunQuit},
};

const StepDef* FindStep(const std::string& name) {
    for (const StepDef& def : kSteps) {
        if (name == def.name) {
            return &def;
        }
    }
    return nullptr;
}

bool ParseCount(const std::string& text, const StepDef& def, long long& number,
                std::string& error) {
    bool digits = !text.empty() && text.size() <= 18;
    for (char c : text) {
        digits = digits && c >= '0' && c <= '9';
    }
    number = digits ? std::strtoll(text.c_str(), nullptr, 10) : -1;
    if (!digits || number < def.minNumber || number > def.maxNumber) {
        error = "'" + text + "' is not a number from " + std::to_string(def.minNumber) + " to " +
                std::to_string(def.maxNumber);
        return false;
    }
    return true;
}

bool ParseText(const std::string& text, bool required, Step& step, std::string& error) {
    if (required && text.empty()) {
        error = "the text is missing";
        return false;
    }
    return DecodeEscapes(text, step.bytes, error);
}

bool ParseArgs(const StepDef& def, const std::string& rest, Step& step, std::string& error) {
    switch (def.args) {
        case Args::kNone:
            if (!rest.empty()) {
                error = "takes nothing after its name";
                return false;
            }
            return true;
        case Args::kText:
            return ParseText(rest, true, step, error);
        case Args::kNumber:
            return ParseCount(rest, def, step.number, error);
        case Args::kTextNumber: {
            size_t blank = rest.rfind(' ');
            if (blank == std::string::npos) {
                error = "needs a text and a number";
                return false;
            }
            return ParseText(rest.substr(0, blank), true, step, error) &&
                   ParseCount(rest.substr(blank + 1), def, step.number, error);
        }
        case Args::kNumberText: {
            size_t blank = rest.find(' ');
            std::string count = rest.substr(0, blank);
            std::string text = blank == std::string::npos ? "" : rest.substr(blank + 1);
            return ParseCount(count, def, step.number, error) &&
                   ParseText(text, false, step, error);
        }
    }
    return false;
}

}  // namespace

bool ParseStep(const std::string& line, Step& step, std::string& error) {
    step = Step{};
    std::string text = line;
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
        text.pop_back();
    }
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos || text[begin] == '#') {
        return true;
    }
    size_t end = text.find(' ', begin);
    std::string name = text.substr(begin, end - begin);
    std::string rest = end == std::string::npos ? "" : text.substr(end + 1);
    const StepDef* def = FindStep(name);
    if (def == nullptr) {
        error = "unknown step '" + name + "'";
        return false;
    }
    if (!ParseArgs(*def, rest, step, error)) {
        error = std::string(def->name) + ": " + error + " (usage: " + def->name + " " + def->usage +
                ")";
        return false;
    }
    step.def = def;
    return true;
}

bool RunStep(SimState& state, const Step& step, std::string& error) {
    if (step.def == nullptr) {
        return true;
    }
    return step.def->run(state, step, error);
}

std::string StepUsage() {
    std::string usage;
    for (const StepDef& def : kSteps) {
        usage += std::string("  ") + def.name + " " + def.usage + "\n";
    }
    return usage;
}

}  // namespace tovaksim
