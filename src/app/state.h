// The application state: one record for the whole program, as the rest of the
// program reads and writes it. Window handles, fonts, brushes, menus and images
// belong to the Win32 shell (src/app/win32/shell.h); everything else is here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "app/ids.h"
#include "platform/platform.h"

constexpr int kElementCount = 6;
// The panel's image controls lie between the first band LED and the step indicator.
constexpr std::size_t kImageControlSpan = id::kStepIndicator - id::kBand7Led + 1;

struct AppState {
    // Serial link.
    platform::PortHandle portHandle = platform::kInvalidPort;
    // The device behind portHandle has gone (a USB adapter pulled out): the
    // handle is kept, as nothing closes it before shutdown, but it is no longer
    // read, and choosing its port again connects afresh.
    bool portGone = false;
    std::string portName;
    platform::PortSettings portSettings{};
    platform::PortTimeouts portTimeouts{};

    // Settings file and log; both empty when %LOCALAPPDATA% is too long to hold them.
    std::string settingsFilePath;
    std::string logFilePath;
    std::uint8_t debugLogging = 0;

    // Timers, in milliseconds; a keep-alive interval of 0 is off.
    std::int32_t pollInterval = 100;
    std::int32_t keepAliveInterval = 120000;

    int messageAnswer = 0;

    // Status model: what the controller last reported.
    std::string modeText;
    std::string frequencyText;
    std::string beamText;
    std::string savedModeText;
    std::string serialText;
    std::string programText;
    std::string modelText;
    std::array<std::string, kElementCount> elementNames;
    std::array<std::string, kElementCount> elementLengths;
    std::uint8_t powerState = 0;
    std::uint8_t modeState = 0;
    std::uint8_t modelRestricted = 0;
    std::uint32_t motorStartTick = 0;
    std::uint8_t beamMode = 1;
    std::uint8_t blinkPhase = 1;
    std::uint8_t cancelPending = 0;
    std::uint8_t setPending = 0;
    platform::BrushHandle displayBrush = platform::kNoBrush;

    // The unterminated end of the last read, completed by the next one.
    std::string pendingMessage;
    // Set while the messages of one read are interpreted. A message box opened
    // by one of them runs poll ticks nested; those leave the port alone, so the
    // messages after the box are still handled once each, in arrival order.
    bool interpreting = false;
    // Set by shutdown. A procedure that resumes after a box under which the main
    // window was closed then shows, sends and waits for nothing more.
    bool sessionEnded = false;
    // While above 0, the panel's images are held: each control's last one is
    // shown when the last hold ends (ImageHold).
    int imageHolds = 0;
    std::map<int, int> heldImages;  // control id -> bitmap id
    // The image last chosen for each of them, shown or held, by id from the
    // first band LED; 0 until one is chosen (the control shows the one it was
    // made with).
    std::array<int, kImageControlSpan> chosenImages{};
    // What screen readers were last told each of them shows, by the same slots;
    // nullptr until first looked at (they were told the value it was made with).
    std::array<const char*, kImageControlSpan> toldValues{};
};

extern AppState app;

// Gives every field its start-up value and fills in the serial defaults.
void InitialiseState();

// Builds settingsFilePath and logFilePath from %LOCALAPPDATA% and creates
// their folder. A root too long for the finished paths leaves both empty.
void BuildFilePaths();
