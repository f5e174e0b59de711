#include "model_settings.h"

#include <algorithm>
#include <cstdlib>

namespace tovaksim {
namespace {

constexpr size_t kNameLength = 12;
constexpr size_t kElementNameLength = 8;
constexpr size_t kSerialLength = 4;
constexpr long kMaxAnswerMs = 600000;

using Apply = bool (*)(ModelState&, const std::string& value, Clock::time_point now,
                       std::string& error);

// A value that is one of a few words, each standing for a number.
struct Word {
    const char* text;
    int value;
};

template <size_t N>
bool PickWord(const Word (&words)[N], const std::string& value, int& result, std::string& error) {
    std::string choices;
    for (const Word& word : words) {
        if (value == word.text) {
            result = word.value;
            return true;
        }
        choices += choices.empty() ? word.text : std::string(", ") + word.text;
    }
    error = "'" + value + "' is not one of " + choices;
    return false;
}

bool ApplyBand(ModelState& model, const std::string& value, Clock::time_point, std::string& error) {
    // The 6 m band's code begins with a blank, which a command line hardly keeps.
    int band = FindBand(value == "6m" ? " 6m" : value);
    if (band < 0) {
        error = "'" + value + "' is not a band code (40m 30m 80m 75m 20m 17m 15m 12m 10m 6m)";
        return false;
    }
    model.band = band;
    model.atHome = false;
    if (!MotorRunning(model)) {
        model.position = TunedPosition(model.bands[band].kHz);
    }
    return true;
}

bool ApplyUnit(ModelState& model, const std::string& value, Clock::time_point, std::string& error) {
    static const Word kUnits[] = {{"MHz", 1}, {"mhz", 0}};
    int large = 0;
    if (!PickWord(kUnits, value, large, error)) {
        return false;
    }
    model.bands[model.band].largeStep = large != 0;
    return true;
}

bool ApplyMode(ModelState& model, const std::string& value, Clock::time_point, std::string& error) {
    static const Word kModes[] = {{"auto", 0}, {"manual", 1}};
    int manual = 0;
    if (!PickWord(kModes, value, manual, error)) {
        return false;
    }
    model.manual = manual != 0;
    return true;
}

bool ApplyBeam(ModelState& model, const std::string& value, Clock::time_point, std::string& error) {
    static const Word kBeams[] = {{"normal", 1}, {"reverse", 2}, {"dipole", 4}};
    return PickWord(kBeams, value, model.beam, error);
}

bool ApplyPower(ModelState& model, const std::string& value, Clock::time_point now,
                std::string& error) {
    static const Word kPower[] = {{"on", 1}, {"off", 0}};
    int on = 0;
    if (!PickWord(kPower, value, on, error)) {
        return false;
    }
    if ((on != 0) != model.powered) {
        ModelCommand(model, "B7FNLP", now);
    }
    return true;
}

bool ApplyName(ModelState& model, const std::string& value, Clock::time_point, std::string& error) {
    if (value.size() > kNameLength) {
        error = "a model name has at most " + std::to_string(kNameLength) + " characters";
        return false;
    }
    model.name = value + std::string(kNameLength - value.size(), ' ');
    return true;
}

bool ApplyElements(ModelState& model, const std::string& value, Clock::time_point,
                   std::string& error) {
    std::string names[kElementCount];
    size_t count = 0;
    size_t begin = 0;
    for (;;) {
        size_t comma = value.find(',', begin);
        std::string name = value.substr(begin, comma == std::string::npos ? comma : comma - begin);
        if (count == kElementCount || name.size() > kElementNameLength) {
            error = "up to six names of at most eight characters, separated by commas";
            return false;
        }
        names[count++] = name + std::string(kElementNameLength - name.size(), ' ');
        if (comma == std::string::npos) {
            break;
        }
        begin = comma + 1;
    }
    for (size_t i = 0; i < kElementCount; ++i) {
        model.elements[i].name = i < count ? names[i] : kAbsentName;
    }
    return true;
}

bool ApplySerial(ModelState& model, const std::string& value, Clock::time_point,
                 std::string& error) {
    if (value.size() != kSerialLength) {
        error = "a serial number has exactly four characters (Z999: none)";
        return false;
    }
    model.serial = value;
    return true;
}

bool ApplyResetAnswer(ModelState& model, const std::string& value, Clock::time_point now,
                      std::string& error) {
    static const Word kAnswers[] = {{"none", static_cast<int>(AutoAnswer::kNone)},
                                    {"set", static_cast<int>(AutoAnswer::kSet)},
                                    {"cancel", static_cast<int>(AutoAnswer::kCancel)}};
    size_t colon = value.find(':');
    int answer = 0;
    if (!PickWord(kAnswers, value.substr(0, colon), answer, error)) {
        return false;
    }
    long ms = model.autoAnswerMs;
    if (colon != std::string::npos) {
        std::string digits = value.substr(colon + 1);
        char* end = nullptr;
        ms = digits.empty() || digits.size() > 9 ? -1 : std::strtol(digits.c_str(), &end, 10);
        if (ms < 0 || ms > kMaxAnswerMs || *end != '\0') {
            error =
                "the delay after ':' is a number of ms from 0 to " + std::to_string(kMaxAnswerMs);
            return false;
        }
    }
    model.autoAnswer = static_cast<AutoAnswer>(answer);
    model.autoAnswerMs = static_cast<int>(ms);
    // A question already open gets its answer that long from now.
    model.answerArmed =
        model.request == Request::kBandReset && model.autoAnswer != AutoAnswer::kNone;
    model.answerDue = now + std::chrono::milliseconds(ms);
    return true;
}

struct SettingDef {
    const char* name;
    const char* value;
    const char* usage;
    Apply apply;
};

constexpr SettingDef kSettings[] = {
    {"band", "CODE", "band in use: 40m 30m 80m 75m 20m 17m 15m 12m 10m 6m (20m)", ApplyBand},
    {"unit", "MHz|mhz", "tuning step of the band in use: larger, smaller (MHz)", ApplyUnit},
    {"mode", "auto|manual", "operating mode (auto)", ApplyMode},
    {"beam", "normal|reverse|dipole", "beam mode (normal)", ApplyBeam},
    {"power", "on|off", "power (on); while running, as the POWER key", ApplyPower},
    {"name", "TEXT",
     "model name, up to 12 characters (Sim Beam 600);\n"
     "'KYRAL Beam 2' refuses the 7 and 10 MHz keys and\n"
     "tunes 20m in 50 kHz steps",
     ApplyName},
    {"elements", "N1,N2,..",
     "element names, up to six of up to 8 characters; the\n"
     "missing ones are absent (Ele1,Ele2,Ele3,Ele4)",
     ApplyElements},
    {"serial", "XXXX", "serial number, 4 characters; Z999 for none (0042)", ApplySerial},
    {"reset-answer", "WORD[:MS]",
     "set|cancel|none: pressed on the controller MS ms (3500)\n"
     "after a band-reset question opens (none)",
     ApplyResetAnswer},
};

const SettingDef* FindSetting(const std::string& name) {
    for (const SettingDef& def : kSettings) {
        if (name == def.name) {
            return &def;
        }
    }
    return nullptr;
}

}  // namespace

bool IsModelSetting(const std::string& name) {
    return FindSetting(name) != nullptr;
}

bool ApplyModelSetting(ModelState& model, const std::string& name, const std::string& value,
                       Clock::time_point now, std::string& error) {
    const SettingDef* def = FindSetting(name);
    if (def == nullptr) {
        error = "unknown model setting '" + name + "'";
        return false;
    }
    if (!def->apply(model, value, now, error)) {
        error = name + ": " + error;
        return false;
    }
    return true;
}

std::string ModelSettingsUsage(const std::string& prefix) {
    constexpr size_t kColumn = 32;
    std::string usage;
    for (const SettingDef& def : kSettings) {
        std::string line = "  " + prefix + def.name + " " + def.value;
        line.resize(std::max(line.size() + 1, kColumn), ' ');
        for (const char* c = def.usage; *c != '\0'; ++c) {
            line += *c;
            if (*c == '\n') {
                line += std::string(kColumn, ' ');
            }
        }
        usage += line + "\n";
    }
    return usage;
}

}  // namespace tovaksim
