#include "monitor/panel.h"

#include <map>
#include <utility>

#include "app/accessible.h"
#include "app/controls.h"
#include "app/ids.h"
#include "app/state.h"
#include "app/texts.h"
#include "text/fields.h"

namespace {

constexpr char kLineBreak = '\r';
constexpr const char* kCounterGap = "    ";
constexpr std::size_t kElementHomeLength = 12;
constexpr int kBandLedCount = 8;

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

void ShowHeldImages() {
    const std::map<int, int> held = std::move(app.heldImages);
    app.heldImages.clear();
    for (const auto& [control, bitmap] : held) {
        platform::SetControlImage(control, bitmap);
    }
    AnnounceValueChanges();
}

// The slot of an image control in chosenImages, or the span for any other id.
std::size_t ImageSlot(int controlId) {
    const int slot = controlId - id::kBand7Led;
    return slot >= 0 && static_cast<std::size_t>(slot) < kImageControlSpan
               ? static_cast<std::size_t>(slot)
               : kImageControlSpan;
}

}  // namespace

void ShowImage(int controlId, int bitmapId) {
    const std::size_t slot = ImageSlot(controlId);
    if (slot < kImageControlSpan) {
        app.chosenImages[slot] = bitmapId;
    }
    if (app.imageHolds > 0) {
        app.heldImages[controlId] = bitmapId;
        return;
    }
    platform::SetControlImage(controlId, bitmapId);
    AnnounceValueChanges();
}

int ChosenImage(int controlId) {
    const std::size_t slot = ImageSlot(controlId);
    if (slot < kImageControlSpan && app.chosenImages[slot] != 0) {
        return app.chosenImages[slot];
    }
    return MadeWithImage(controlId);
}

int MadeWithImage(int controlId) {
    const ControlEntry* control = FindMainControl(controlId);
    return control != nullptr ? control->bitmap : 0;
}

ImageHold::ImageHold() {
    ++app.imageHolds;
}

ImageHold::~ImageHold() {
    if (--app.imageHolds == 0) {
        ShowHeldImages();
    }
}

ImageHoldPause::ImageHoldPause() : holds_(app.imageHolds) {
    app.imageHolds = 0;
    ShowHeldImages();
}

ImageHoldPause::~ImageHoldPause() {
    app.imageHolds = holds_;
}

void ReplaceDisplayBrush(std::uint32_t colour) {
    const platform::BrushHandle replaced = app.displayBrush;
    app.displayBrush = platform::CreateBrush(colour);
    platform::UseDisplayBrush(app.displayBrush);
    if (replaced != platform::kNoBrush) {
        platform::DeleteBrush(replaced);
    }
}

void ReleaseDisplayBrush() {
    if (app.displayBrush == platform::kNoBrush) {
        return;
    }
    platform::UseDisplayBrush(platform::kNoBrush);
    platform::DeleteBrush(app.displayBrush);
    app.displayBrush = platform::kNoBrush;
}

void RefreshDisplayPanel(const std::string& extra) {
    const std::string head = " " + app.modeText;
    const std::string firstLine = extra.empty() ? head + app.beamText : head + kCounterGap + extra;
    std::string panel;
    switch (app.modeState) {
        case 0:
            // The element display has no beam word.
            if (extra.empty() &&
                FirstChars(app.frequencyText, kElementHomeLength) == text::kElementHome) {
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
        ShowImage(beam.led, lit ? beam.bitmap : id::kBitmapLedOff);
    }
}

int BeamModeLed(std::uint8_t beamMode) {
    for (const BeamLed& beam : kBeamLeds) {
        if (beam.mode == beamMode) {
            return beam.led;
        }
    }
    return 0;
}

void RefreshBandLeds(int litKey) {
    for (int key = 0; key < kBandLedCount; ++key) {
        ShowImage(id::kBand7Led + key, key == litKey ? id::kBitmapLedBlue : id::kBitmapLedOff);
    }
}
