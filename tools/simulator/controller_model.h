// The controller model: the antenna controller as the simulator plays it when it
// answers the program by itself. It takes the program's bytes, cuts them into
// commands at ";", and answers in the controller's messages; motor runs and other
// timed events are due times that the caller's loop wakes for. Time always comes
// from the caller, so a test can drive the model with a clock of its own.
#pragma once

#include <array>
#include <chrono>
#include <string>

namespace tovaksim {

using Clock = std::chrono::steady_clock;

constexpr int kBandCount = 10;
constexpr int kElementCount = 6;
constexpr int kAllElements = 6;  // the element digit that stands for every element

// One row of the band table: what the display shows for the band and how it tunes.
struct BandDef {
    const char* code;  // the display's band code, the first three characters of "Fq"
    int key;           // the band key that selects it
    bool restricted;   // refused by the restricted model ("KYRAL Beam 2")
    int lowKHz;
    int highKHz;
    int factoryKHz;
    int largeStepKHz;       // unit "MHz"
    int smallStepKHz;       // unit "mhz"
    int restrictedStepKHz;  // both steps on the restricted model, 0 where it tunes as usual
};

const BandDef& BandAt(int band);
int FindBand(const std::string& code);  // -1 if no band has that code

// Half a wavelength: how far out the elements stand for a frequency, in metres.
double TunedPosition(int kHz);

constexpr char kAbsentName[] = "        ";  // the name of an absent element

// What the controller remembers of each band.
struct BandMemory {
    int kHz = 0;
    bool largeStep = true;
};

struct Element {
    std::string name;  // 8 characters; eight blanks for an absent element
    int lengthCm = 0;  // as adjusted
    int storedCm = 0;  // as written with "Wr0"; what a power cycle goes back to
};

// What waits for SET or CANCEL.
enum class Request { kNone, kHome, kCalibrate, kBandReset };
enum class MotorJob { kNone, kTune, kHome, kCalibrate, kAdjust };
// What the controller's own user does while a band-reset question is open.
enum class AutoAnswer { kNone, kSet, kCancel };

struct ModelState {
    // Identity, as "Md", "Sn" and "Ve" report it.
    std::string name = "Sim Beam 600";  // 12 characters
    std::string serial = "0042";
    std::string version = "Ver 01.20";

    // The front panel.
    bool powered = true;
    int band = 4;  // 20m
    std::array<BandMemory, kBandCount> bands;
    int beam = 1;  // 1 NORMAL, 2 REVERSE, 4 DIPOLE
    bool manual = false;
    bool atHome = false;  // elements retracted after homing, until a band key
    Request request = Request::kNone;
    int resetBand = 0;    // the band a band-reset question is about
    bool locked = false;  // by "Lock", for maintenance and the Adjust window
    std::array<Element, kElementCount> elements;

    // The motor. Where the elements stand is computed from the time the motor has
    // run, so a run cut short (power off) leaves them part of the way.
    double position = 0;  // metres out, while the motor stands
    MotorJob motorJob = MotorJob::kNone;
    Clock::time_point motorStart;
    Clock::time_point motorDue;
    double motorFrom = 0;
    double motorTo = 0;
    int motorElement = 0;    // kAdjust: the element digit
    int motorDirection = 0;  // kAdjust: +1 longer, -1 shorter

    // Other timed events.
    bool restoring = false;  // "AtDefault" under way until restoreDue
    Clock::time_point restoreDue;
    AutoAnswer autoAnswer = AutoAnswer::kNone;
    int autoAnswerMs = 3500;
    bool answerArmed = false;
    Clock::time_point answerDue;

    // The line.
    std::string rest;    // the unterminated rest of what the program wrote
    std::string output;  // messages for the program, each with its ";"

    ModelState();
};

// Takes bytes as the program wrote them; runs every complete command.
void ModelReceive(ModelState& model, const std::string& bytes, Clock::time_point now);

// Runs one command (without ";"), as received or as pressed on the controller itself.
void ModelCommand(ModelState& model, const std::string& command, Clock::time_point now);

// The commands the model takes and what it answers, one a line, for --help.
std::string ModelCommandsUsage();

// The earliest pending event; false if nothing is pending.
bool ModelNextDue(const ModelState& model, Clock::time_point& due);

// Runs every event due by now, each at its own due time.
void ModelAdvance(ModelState& model, Clock::time_point now);

bool MotorRunning(const ModelState& model);
bool RestrictedModel(const ModelState& model);

// Where the elements stand now, in metres (between motorFrom and motorTo while it runs).
double MotorPosition(const ModelState& model, Clock::time_point now);

// How long the motor takes for a move of the given distance at the given speed.
Clock::duration MotorDuration(double metres, double metresPerSecond);
constexpr double kTuneSpeed = 5.0;     // m/s, all elements together
constexpr double kElementSpeed = 0.1;  // m/s, one element's adjustment
constexpr int kElementStepCm = 5;      // one "Ad0" step
constexpr int kElementMinCm = 100;
constexpr int kElementMaxCm = 1200;
constexpr auto kRestoreTime = std::chrono::seconds(3);

// The "Fq" message (without ";") for a band, frequency and step: band code,
// blank, frequency in MHz right-aligned in 8 characters, blank, unit.
std::string FrequencyMessage(int band, int kHz, bool largeStep);

}  // namespace tovaksim
