#include "monitor/panel.h"

#include "app/ids.h"
#include "app/state.h"

namespace {

constexpr char kLineBreak = '\r';
constexpr const char* kCounterGap = "    ";
constexpr const char* kElementHome = "Element Home";

// Beam mode -> the LED lit for it and its colour.
struct BeamLed {
    std::uint8_t mode;
    int led;
    int bitmap;
};
constexpr BeamLed kBeamLeds[] = {
    {1, id::kNormalLed, id::kBitmapLedBlue},
    {2, id::kReverseLed, id::kBitmapLedGreen},
    {4, id::kDipoleLed, id::kBitmapLedOrange},
};

}  // namespace

void RefreshDisplayPanel(const std::string& extra) {
    const std::string head = " " + app.modeText;
    const std::string firstLine = extra.empty() ? head + app.beamText : head + kCounterGap + extra;
    std::string panel;
    switch (app.modeState) {
        case 0:
            if (extra.empty() && app.frequencyText.compare(0, 12, kElementHome) == 0) {
                panel = head + kLineBreak + " " + app.frequencyText;
            } else {
                panel = firstLine + kLineBreak + " " + app.frequencyText;
            }
            break;
        case 1:
            // The "Push SET" prompt on line 2 blinks with the poll ticks.
            panel = firstLine + kLineBreak + " " + (app.blinkPhase == 1 ? "" : app.frequencyText);
            break;
        case 2:
            panel = head + kLineBreak + " " + app.frequencyText;
            break;
        default:
            return;
    }
    platform::SetControlText(id::kDisplayPanel, panel);
}

void RefreshBeamLeds() {
    const bool knownMode =
        app.beamMode == 0 || app.beamMode == 1 || app.beamMode == 2 || app.beamMode == 4;
    if (app.blinkPhase != 1 && !knownMode) {
        return;
    }
    for (const BeamLed& beam : kBeamLeds) {
        const bool lit = app.blinkPhase != 1 && app.beamMode == beam.mode;
        platform::SetControlImage(beam.led, lit ? beam.bitmap : id::kBitmapLedOff);
    }
}
