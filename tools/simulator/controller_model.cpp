#include "controller_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tovaksim {
namespace {

// The bands sharing a key stand together, in the order that key cycles through them.
constexpr BandDef kBands[kBandCount] = {
    {"40m", 0, true, 7000, 7300, 7050, 20, 10, 0},
    {"30m", 1, true, 10100, 10150, 10120, 40, 20, 0},
    {"80m", 1, true, 3500, 3800, 3550, 20, 10, 0},
    {"75m", 1, true, 3800, 4000, 3850, 20, 10, 0},
    {"20m", 2, false, 14000, 14350, 14100, 40, 20, 50},
    {"17m", 3, false, 18068, 18168, 18100, 50, 50, 0},
    {"15m", 4, false, 21000, 21450, 21200, 50, 50, 0},
    {"12m", 5, false, 24890, 24990, 24940, 50, 50, 0},
    {"10m", 6, false, 28000, 29700, 28500, 50, 50, 0},
    {" 6m", 7, false, 50000, 54000, 50150, 50, 50, 0},
};

constexpr int kBandKeys = 8;
constexpr char kRestrictedName[] = "KYRAL Beam 2";
constexpr char kHomeDisplay[] = "Element Home    ";
constexpr size_t kMaxCommand = 4096;  // a longer run without ";" is noise
constexpr auto kMotorStartTime = std::chrono::milliseconds(250);

struct ElementDefault {
    const char* name;
    int lengthCm;
};
constexpr ElementDefault kElementDefaults[kElementCount] = {
    {"Ele1    ", 1110}, {"Ele2    ", 1120},  {"Ele3    ", 1130},
    {"Ele4    ", 1140}, {kAbsentName, 1150}, {kAbsentName, 1160},
};

// Error codes of the "Er" refusals.
constexpr char kErrUnknown = '1';
constexpr char kErrMotorOrHome = '2';
constexpr char kErrLocked = '4';
constexpr char kErrMotorOrCalibration = '5';
constexpr char kErrNotLocked = '6';
constexpr char kErrMaxLength = '7';

void Emit(ModelState& model, const std::string& message) {
    model.output += message;
    model.output += ';';
}

void Refuse(ModelState& model, char code) {
    Emit(model, std::string("Er00") + code);
}

int FirstBandOfKey(int key) {
    for (int band = 0; band < kBandCount; ++band) {
        if (kBands[band].key == key) {
            return band;
        }
    }
    return 0;
}

// Pressing the key of the band in use moves on to the key's next band.
int NextBandOfKey(int band) {
    int next = band + 1;
    return next < kBandCount && kBands[next].key == kBands[band].key
               ? next
               : FirstBandOfKey(kBands[band].key);
}

std::array<BandMemory, kBandCount> FactoryBands() {
    std::array<BandMemory, kBandCount> bands;
    for (int band = 0; band < kBandCount; ++band) {
        bands[band] = {kBands[band].factoryKHz, true};
    }
    return bands;
}

std::string LengthField(int cm) {
    char text[16];
    std::snprintf(text, sizeof text, "%2d.%02d", cm / 100 % 100, cm % 100);
    return text;
}

bool Present(const Element& element) {
    return element.name != kAbsentName;
}

// ---- messages -------------------------------------------------------------------

void EmitFrequency(ModelState& model) {
    if (model.atHome) {
        Emit(model, std::string("Fq") + kHomeDisplay);
        return;
    }
    const BandMemory& memory = model.bands[model.band];
    Emit(model, FrequencyMessage(model.band, memory.kHz, memory.largeStep));
}

void EmitIdentity(ModelState& model) {
    Emit(model, "Sn" + model.serial);
    Emit(model, "Ve" + model.version);
    Emit(model, "Md" + model.name + "    ");
}

void EmitStatus(ModelState& model) {
    if (!model.powered) {
        Emit(model, "Pw0");
        EmitIdentity(model);
        return;
    }
    Emit(model, "Pw1");
    Emit(model, "Bm" + std::to_string(model.beam));
    Emit(model, model.atHome ? "Tm3" : model.manual ? "Tm1" : "Tm0");
    if (MotorRunning(model)) {
        Emit(model, "Mt1");
    }
    EmitFrequency(model);
    EmitIdentity(model);
}

void EmitLengths(ModelState& model, int digit) {
    std::string message = "Cp0" + std::to_string(digit);
    for (int i = 0; i < kElementCount; ++i) {
        if (digit == kAllElements || digit == i) {
            message += "," + LengthField(model.elements[i].lengthCm);
        }
    }
    Emit(model, message);
}

// ---- the motor ------------------------------------------------------------------

void StartMotor(ModelState& model, MotorJob job, double to, double distance, double speed,
                Clock::time_point now) {
    model.motorJob = job;
    model.motorStart = now;
    model.motorDue = now + MotorDuration(distance, speed);
    model.motorFrom = model.position;
    model.motorTo = to;
    Emit(model, "Mt1");
}

// Stops the motor wherever it is now, without a report (power off).
void StopMotor(ModelState& model, Clock::time_point now) {
    if (MotorRunning(model)) {
        model.position = MotorPosition(model, now);
        model.motorJob = MotorJob::kNone;
    }
}

// Moves the elements to the current band's frequency; reports it at once if they
// stand there already.
void TuneToBand(ModelState& model, Clock::time_point now) {
    double target = TunedPosition(model.bands[model.band].kHz);
    double distance = std::fabs(target - model.position);
    if (distance < 1e-9) {
        EmitFrequency(model);
        return;
    }
    StartMotor(model, MotorJob::kTune, target, distance, kTuneSpeed, now);
}

void StepElements(ModelState& model) {
    for (int i = 0; i < kElementCount; ++i) {
        Element& element = model.elements[i];
        if ((model.motorElement == kAllElements || model.motorElement == i) && Present(element)) {
            element.lengthCm = std::clamp(element.lengthCm + model.motorDirection * kElementStepCm,
                                          kElementMinCm, kElementMaxCm);
        }
    }
}

void FinishMotor(ModelState& model) {
    MotorJob job = model.motorJob;
    model.motorJob = MotorJob::kNone;
    model.position = model.motorTo;
    Emit(model, "Mt0");
    switch (job) {
        case MotorJob::kTune:
            EmitFrequency(model);
            break;
        case MotorJob::kHome:
            model.atHome = true;
            Emit(model, "Hm1");
            EmitFrequency(model);
            break;
        case MotorJob::kCalibrate:
            Emit(model, "Cl1");
            EmitFrequency(model);
            break;
        case MotorJob::kAdjust:
            StepElements(model);
            EmitLengths(model, model.motorElement);
            break;
        case MotorJob::kNone:
            break;
    }
}

// ---- power ----------------------------------------------------------------------

void PowerUp(ModelState& model) {
    model.powered = true;
    EmitStatus(model);
}

// Everything not written to the controller's memory goes with the power.
void PowerDown(ModelState& model, Clock::time_point now) {
    StopMotor(model, now);
    model.powered = false;
    model.locked = false;
    model.request = Request::kNone;
    model.restoring = false;
    model.answerArmed = false;
    for (Element& element : model.elements) {
        element.lengthCm = element.storedCm;
    }
    Emit(model, "Pw0");
}

// ---- command handlers -----------------------------------------------------------
// Each takes the digit its code's '#' matched (-1 where the code has none).

using Handler = void (*)(ModelState&, int digit, Clock::time_point now);

void StatusRequest(ModelState& model, int, Clock::time_point) {
    EmitStatus(model);
}

void ModelRequest(ModelState& model, int, Clock::time_point) {
    Emit(model, "Md" + model.name + "    ");
}

void PowerOn(ModelState& model, int, Clock::time_point) {
    if (!model.powered) {
        PowerUp(model);
    }
}

void PowerToggle(ModelState& model, int, Clock::time_point now) {
    if (model.powered) {
        PowerDown(model, now);
    } else {
        PowerUp(model);
    }
}

bool BandKeyRefused(ModelState& model, int key) {
    if (key >= kBandKeys) {
        Refuse(model, kErrUnknown);
        return true;
    }
    if (RestrictedModel(model) && kBands[FirstBandOfKey(key)].restricted) {
        Refuse(model, kErrUnknown);
        return true;
    }
    return false;
}

void BandKey(ModelState& model, int key, Clock::time_point now) {
    if (BandKeyRefused(model, key)) {
        return;
    }
    // From home the key brings the elements out on the band they were on.
    bool sameKey = kBands[model.band].key == key;
    model.band = !sameKey       ? FirstBandOfKey(key)
                 : model.atHome ? model.band
                                : NextBandOfKey(model.band);
    model.atHome = false;
    TuneToBand(model, now);
}

void BandReset(ModelState& model, int key, Clock::time_point now) {
    if (BandKeyRefused(model, key)) {
        return;
    }
    model.resetBand = kBands[model.band].key == key ? model.band : FirstBandOfKey(key);
    model.request = Request::kBandReset;
    model.answerArmed = model.autoAnswer != AutoAnswer::kNone;
    model.answerDue = now + std::chrono::milliseconds(model.autoAnswerMs);
}

void BeamMode(ModelState& model, int, Clock::time_point) {
    model.beam = model.beam == 1 ? 2 : model.beam == 2 ? 4 : 1;
    Emit(model, "Bm" + std::to_string(model.beam));
}

void Auto(ModelState& model, int, Clock::time_point) {
    model.manual = false;
    Emit(model, "Tm0");
}

void Manual(ModelState& model, int, Clock::time_point) {
    model.manual = true;
    Emit(model, "Tm1");
}

void HomeRequest(ModelState& model, int, Clock::time_point) {
    model.request = Request::kHome;
    Emit(model, "Cf0");
}

void CalibrationRequest(ModelState& model, int, Clock::time_point) {
    model.request = Request::kCalibrate;
    Emit(model, "Cf1");
}

void StepFrequency(ModelState& model, int direction, Clock::time_point now) {
    const BandDef& def = kBands[model.band];
    BandMemory& memory = model.bands[model.band];
    int step = memory.largeStep ? def.largeStepKHz : def.smallStepKHz;
    if (RestrictedModel(model) && def.restrictedStepKHz != 0) {
        step = def.restrictedStepKHz;
    }
    memory.kHz = std::clamp(memory.kHz + direction * step, def.lowKHz, def.highKHz);
    TuneToBand(model, now);
}

void Up(ModelState& model, int, Clock::time_point now) {
    StepFrequency(model, +1, now);
}

void Down(ModelState& model, int, Clock::time_point now) {
    StepFrequency(model, -1, now);
}

void LargeStep(ModelState& model, int, Clock::time_point) {
    model.bands[model.band].largeStep = true;
    Emit(model, "Ud2");
}

void SmallStep(ModelState& model, int, Clock::time_point) {
    model.bands[model.band].largeStep = false;
    Emit(model, "Ud3");
}

void Set(ModelState& model, int, Clock::time_point now) {
    Request request = model.request;
    model.request = Request::kNone;
    model.answerArmed = false;
    switch (request) {
        case Request::kNone:
            return;  // nothing waits for SET
        case Request::kHome:
            Emit(model, "Se0");
            Emit(model, "Hm0");
            StartMotor(model, MotorJob::kHome, 0, model.position, kTuneSpeed, now);
            return;
        case Request::kCalibrate:
            // Calibration runs the elements in to their stops and back out.
            Emit(model, "Se0");
            Emit(model, "Cl0");
            StartMotor(model, MotorJob::kCalibrate, model.position, 2 * model.position, kTuneSpeed,
                       now);
            return;
        case Request::kBandReset:
            Emit(model, "Se0");
            model.bands[model.resetBand] = {kBands[model.resetBand].factoryKHz, true};
            if (model.resetBand == model.band && !model.atHome) {
                TuneToBand(model, now);
            } else {
                EmitFrequency(model);
            }
            return;
    }
}

void Cancel(ModelState& model, int, Clock::time_point) {
    if (model.request == Request::kNone) {
        return;  // nothing to cancel
    }
    model.request = Request::kNone;
    model.answerArmed = false;
    Emit(model, "Cn0");
}

void Lock(ModelState& model, int, Clock::time_point) {
    if (MotorRunning(model)) {
        Refuse(model, kErrMotorOrHome);
        return;
    }
    model.locked = true;
    model.request = Request::kNone;
    model.answerArmed = false;
}

void RestoreDefaults(ModelState& model, int, Clock::time_point now) {
    model.restoring = true;
    model.restoreDue = now + kRestoreTime;
}

void ElementNames(ModelState& model, int, Clock::time_point) {
    std::string message = "Ea";
    for (const Element& element : model.elements) {
        message += element.name;
    }
    Emit(model, message);
}

void ElementLengths(ModelState& model, int digit, Clock::time_point) {
    if (digit > kAllElements) {
        Refuse(model, kErrUnknown);
        return;
    }
    EmitLengths(model, digit);
}

// The element digit of "Ad0" and "Wr0": an element that exists, or all of them.
bool ElementRefused(ModelState& model, int digit) {
    if (digit > kAllElements || (digit < kElementCount && !Present(model.elements[digit]))) {
        Refuse(model, kErrUnknown);
        return true;
    }
    return false;
}

void AdjustElements(ModelState& model, int digit, int direction, Clock::time_point now) {
    if (ElementRefused(model, digit)) {
        return;
    }
    bool moves = false;
    for (int i = 0; i < kElementCount; ++i) {
        const Element& element = model.elements[i];
        if ((digit != kAllElements && digit != i) || !Present(element)) {
            continue;
        }
        int length = element.lengthCm + direction * kElementStepCm;
        if (length > kElementMaxCm) {
            Emit(model, std::string("Er00") + kErrMaxLength + std::to_string(i));
            return;
        }
        moves = moves || std::max(length, kElementMinCm) != element.lengthCm;
    }
    if (!moves) {
        EmitLengths(model, digit);  // at the inner stop: nothing to run
        return;
    }
    model.motorElement = digit;
    model.motorDirection = direction;
    StartMotor(model, MotorJob::kAdjust, model.position, kElementStepCm / 100.0, kElementSpeed,
               now);
}

void Shorter(ModelState& model, int digit, Clock::time_point now) {
    AdjustElements(model, digit, -1, now);
}

void Longer(ModelState& model, int digit, Clock::time_point now) {
    AdjustElements(model, digit, +1, now);
}

void StoreElements(ModelState& model, int digit, Clock::time_point) {
    if (ElementRefused(model, digit)) {
        return;
    }
    for (int i = 0; i < kElementCount; ++i) {
        if (digit == kAllElements || digit == i) {
            model.elements[i].storedCm = model.elements[i].lengthCm;
        }
    }
    EmitLengths(model, digit);
}

// ---- the command table ----------------------------------------------------------

// When a command is taken; anything else is refused or ignored before its handler runs.
enum class Gate {
    kAlways,   // status and model requests: answered even while powered off
    kPower,    // the POWER key: works while locked and while the motor runs
    kKey,      // a front-panel key
    kCommand,  // a request or "Lock": needs power
    kLocked,   // maintenance and element commands: need power and the lock
};

// Front-panel keys that a state lets through.
enum KeyFlags {
    kAnswersRequest = 1,   // SET, CANCEL: taken while anything waits for them
    kReplacesRequest = 2,  // HOME, CALIBRATION: a new request replaces a waiting one
    kRefusedAtHome = 4,    // needs the elements out
};

struct CommandDef {
    const char* code;  // '#' matches any digit, passed to the handler
    Gate gate;
    int flags;
    Handler run;
    const char* what;  // for --help
};

constexpr CommandDef kCommands[] = {
    {"SR", Gate::kAlways, 0, StatusRequest,
     "status: Pw1 Bm Tm [Mt1] Fq Sn Ve Md (off: Pw0 Sn Ve Md)"},
    {"Md", Gate::kAlways, 0, ModelRequest, "Md + 16-character model field"},
    {"B7FNSP", Gate::kPower, 0, PowerOn, "POWER ON: Pw1 and the status, if off"},
    {"B7FNLP", Gate::kPower, 0, PowerToggle,
     "POWER: off (Pw0; unlocks, drops unstored lengths) or on"},
    {"B#BDSP", Gate::kKey, 0, BandKey, "band key 0-7: Mt1 .. Mt0 Fq; key 1 again: 30m 80m 75m"},
    {"B#BDLP", Gate::kKey, 0, BandReset,
     "band reset question: SET Se0 + factory values, CANCEL Cn0"},
    {"B0FNSP", Gate::kKey, kRefusedAtHome, BeamMode, "MODE: Bm1 Bm2 Bm4 in turn"},
    {"B1FNSP", Gate::kKey, kRefusedAtHome, Auto, "AUTO: Tm0"},
    {"B2FNSP", Gate::kKey, kRefusedAtHome, Manual, "MANUAL: Tm1"},
    {"B1FNLP", Gate::kKey, kReplacesRequest, HomeRequest,
     "HOME: Cf0; SET: Se0 Hm0 Mt1 .. Mt0 Hm1 Fq"},
    {"B2FNLP", Gate::kKey, kReplacesRequest, CalibrationRequest,
     "CALIBRATION: Cf1; SET: Se0 Cl0 Mt1 .. Mt0 Cl1 Fq"},
    {"B3FNSP", Gate::kKey, kRefusedAtHome, Up, "UP one step: Mt1 .. Mt0 Fq"},
    {"B4FNSP", Gate::kKey, kRefusedAtHome, Down, "DOWN one step: Mt1 .. Mt0 Fq"},
    {"B3FNLP", Gate::kKey, 0, LargeStep, "larger step: Ud2"},
    {"B4FNLP", Gate::kKey, 0, SmallStep, "smaller step: Ud3"},
    {"B5FNSP", Gate::kKey, kAnswersRequest, Set, "SET what waits for it"},
    {"B6FNSP", Gate::kKey, kAnswersRequest, Cancel, "CANCEL what waits for SET: Cn0"},
    {"Lock", Gate::kCommand, 0, Lock, "lock (no answer) until power off"},
    {"Ea", Gate::kCommand, 0, ElementNames, "Ea + six 8-character names"},
    {"Cp0#", Gate::kCommand, 0, ElementLengths, "Cp0n,LL.LL (n 0-5) or Cp06 + six ,LL.LL"},
    {"AtDefault", Gate::kLocked, 0, RestoreDefaults, "factory defaults: AtComplete 3 s later"},
    {"Ad0#Short", Gate::kLocked, 0, Shorter, "element n (6 all) 5 cm shorter: Mt1 .. Mt0 Cp0n"},
    {"Ad0#Long ", Gate::kLocked, 0, Longer, "5 cm longer, up to 12.00: Mt1 .. Mt0 Cp0n; Er007n"},
    {"Wr0#", Gate::kLocked, 0, StoreElements, "store element n (6 all): Cp0n"},
};

bool Matches(const char* code, const std::string& command, int& digit) {
    size_t i = 0;
    digit = -1;
    for (; code[i] != '\0'; ++i) {
        if (i >= command.size()) {
            return false;
        }
        if (code[i] == '#') {
            if (command[i] < '0' || command[i] > '9') {
                return false;
            }
            digit = command[i] - '0';
        } else if (code[i] != command[i]) {
            return false;
        }
    }
    return i == command.size();
}

constexpr char kDrop = ' ';  // a refusal without a report

// The refusal code for a key in the current state; 0 lets it through.
char KeyRefusal(const ModelState& model, int flags) {
    if (model.locked) {
        return kErrLocked;
    }
    if (MotorRunning(model)) {
        return model.motorJob == MotorJob::kCalibrate ? kErrMotorOrCalibration : kErrMotorOrHome;
    }
    if (model.request != Request::kNone && (flags & kAnswersRequest) == 0) {
        switch (model.request) {
            case Request::kHome:
                return (flags & kReplacesRequest) != 0 ? 0 : kErrMotorOrHome;
            case Request::kCalibrate:
                return (flags & kReplacesRequest) != 0 ? 0 : kErrMotorOrCalibration;
            default:
                return kDrop;  // the band-reset question only takes SET and CANCEL
        }
    }
    if (model.atHome && (flags & kRefusedAtHome) != 0) {
        return kErrMotorOrHome;
    }
    return 0;
}

// Whether the command may run; refuses it with an "Er" message where it may not.
bool Admit(ModelState& model, const CommandDef& def) {
    if (def.gate == Gate::kAlways || def.gate == Gate::kPower) {
        return true;
    }
    if (!model.powered) {
        return false;  // a controller that is off takes no keys and no commands
    }
    char refusal = 0;
    if (def.gate == Gate::kKey) {
        refusal = KeyRefusal(model, def.flags);
    } else if (def.gate == Gate::kLocked) {
        refusal = !model.locked ? kErrNotLocked : MotorRunning(model) ? kErrMotorOrHome : '\0';
    }
    if (refusal != 0 && refusal != kDrop) {
        Refuse(model, refusal);
    }
    return refusal == 0;
}

void RunEvent(ModelState& model, Clock::time_point due) {
    if (MotorRunning(model) && model.motorDue == due) {
        FinishMotor(model);
    } else if (model.restoring && model.restoreDue == due) {
        model.restoring = false;
        model.bands = FactoryBands();
        model.beam = 1;
        model.manual = false;
        Emit(model, "AtComplete");
    } else if (model.answerArmed && model.answerDue == due) {
        model.answerArmed = false;
        if (model.request == Request::kBandReset) {
            ModelCommand(model, model.autoAnswer == AutoAnswer::kSet ? "B5FNSP" : "B6FNSP", due);
        }
    }
}

}  // namespace

double TunedPosition(int kHz) {
    return 150000.0 / kHz;
}

const BandDef& BandAt(int band) {
    return kBands[std::clamp(band, 0, kBandCount - 1)];
}

int FindBand(const std::string& code) {
    for (int band = 0; band < kBandCount; ++band) {
        if (code == kBands[band].code) {
            return band;
        }
    }
    return -1;
}

ModelState::ModelState() : band(FindBand("20m")), bands(FactoryBands()) {
    for (int i = 0; i < kElementCount; ++i) {
        elements[i] = {kElementDefaults[i].name, kElementDefaults[i].lengthCm,
                       kElementDefaults[i].lengthCm};
    }
    position = TunedPosition(bands[band].kHz);
}

std::string FrequencyMessage(int band, int kHz, bool largeStep) {
    char text[32];
    std::snprintf(text, sizeof text, "Fq%s %4d.%03d %s", BandAt(band).code, kHz / 1000 % 10000,
                  kHz % 1000, largeStep ? "MHz" : "mhz");
    return text;
}

bool MotorRunning(const ModelState& model) {
    return model.motorJob != MotorJob::kNone;
}

bool RestrictedModel(const ModelState& model) {
    return model.name.compare(0, 12, kRestrictedName) == 0;
}

Clock::duration MotorDuration(double metres, double metresPerSecond) {
    auto moving = std::chrono::duration<double>(metres / metresPerSecond);
    return kMotorStartTime + std::chrono::duration_cast<Clock::duration>(moving);
}

double MotorPosition(const ModelState& model, Clock::time_point now) {
    if (!MotorRunning(model)) {
        return model.position;
    }
    // The start-up time moves nothing; the rest of the run moves at a steady speed.
    auto moving = model.motorDue - model.motorStart - kMotorStartTime;
    auto moved = now - model.motorStart - kMotorStartTime;
    double part =
        moving.count() > 0
            ? std::clamp(static_cast<double>(moved.count()) / static_cast<double>(moving.count()),
                         0.0, 1.0)
            : 1.0;
    if (model.motorJob == MotorJob::kCalibrate) {
        // In to the stops for the first half, back out for the second.
        return model.motorFrom * std::fabs(1 - 2 * part);
    }
    return model.motorFrom + (model.motorTo - model.motorFrom) * part;
}

void ModelReceive(ModelState& model, const std::string& bytes, Clock::time_point now) {
    ModelAdvance(model, now);
    for (char c : bytes) {
        if (c != ';') {
            if (model.rest.size() < kMaxCommand) {
                model.rest += c;
            }
            continue;
        }
        std::string command;
        command.swap(model.rest);
        ModelCommand(model, command, now);
    }
}

void ModelCommand(ModelState& model, const std::string& command, Clock::time_point now) {
    // A terminal's line ends before a command are no part of it.
    size_t begin = command.find_first_not_of("\r\n");
    if (begin == std::string::npos) {
        return;  // an empty command: nothing to do
    }
    std::string code = command.substr(begin);
    for (const CommandDef& def : kCommands) {
        int digit = -1;
        if (Matches(def.code, code, digit)) {
            if (Admit(model, def)) {
                def.run(model, digit, now);
            }
            return;
        }
    }
    if (model.powered) {
        Refuse(model, kErrUnknown);
    }
}

std::string ModelCommandsUsage() {
    std::string usage;
    for (const CommandDef& def : kCommands) {
        std::string line = std::string("  ") + def.code;
        line.resize(13, ' ');
        usage += line + def.what + "\n";
    }
    return usage;
}

bool ModelNextDue(const ModelState& model, Clock::time_point& due) {
    bool any = false;
    auto consider = [&](bool pending, Clock::time_point when) {
        if (pending && (!any || when < due)) {
            due = when;
            any = true;
        }
    };
    consider(MotorRunning(model), model.motorDue);
    consider(model.restoring, model.restoreDue);
    consider(model.answerArmed, model.answerDue);
    return any;
}

void ModelAdvance(ModelState& model, Clock::time_point now) {
    Clock::time_point due;
    while (ModelNextDue(model, due) && due <= now) {
        RunEvent(model, due);
    }
}

}  // namespace tovaksim
