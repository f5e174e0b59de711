#include "app/controls.h"

#include "app/ids.h"
#include "app/texts.h"

namespace {
constexpr const char* kStatic = "STATIC";
constexpr const char* kButton = "BUTTON";
constexpr const char* kEdit = "EDIT";
using namespace style;
}  // namespace

// Keys have no text: their meaning comes from the labels of the picture.
const ControlEntry kMainControls[] = {
    {id::kPanelPicture, kStatic, "", 0, kImage, 0, 1, 759, 237, id::kBitmapPanel},
    {id::kPowerKey, kButton, "", 0, kShown, 88, 71, 28, 28, 0},
    {id::kAutoKey, kButton, "", 0, kShown, 517, 42, 28, 28, 0},
    {id::kManualKey, kButton, "", 0, kShown, 517, 99, 28, 28, 0},
    {id::kHomeKey, kButton, "", 0, kShown, 579, 42, 28, 28, 0},
    {id::kCalibrationKey, kButton, "", 0, kShown, 579, 99, 28, 28, 0},
    {id::kModeKey, kButton, "", 0, kShown, 640, 99, 28, 28, 0},
    {id::kBand7Key, kButton, "", 0, kShown, 88, 171, 28, 28, 0},
    {id::kBand10Key, kButton, "", 0, kShown, 149, 171, 28, 28, 0},
    {id::kBand14Key, kButton, "", 0, kShown, 210, 171, 28, 28, 0},
    {id::kBand18Key, kButton, "", 0, kShown, 272, 171, 28, 28, 0},
    {id::kBand21Key, kButton, "", 0, kShown, 333, 171, 28, 28, 0},
    {id::kBand24Key, kButton, "", 0, kShown, 394, 171, 28, 28, 0},
    {id::kBand28Key, kButton, "", 0, kShown, 456, 171, 28, 28, 0},
    {id::kBand50Key, kButton, "", 0, kShown, 517, 172, 28, 28, 0},
    {id::kSetKey, kButton, "", 0, kShown, 579, 171, 28, 28, 0},
    {id::kCancelKey, kButton, "", 0, kShown, 640, 171, 28, 28, 0},
    {id::kDisplayPanel, kStatic, text::kConnecting, 0, kShown, 175, 64, 185, 46, 0},
    {id::kCommandField, kEdit, "", kClientEdge, kChild, 58, 246, 123, 18, 0},
    {id::kReceiveField, kEdit, "", kClientEdge, kChild, 205, 246, 607, 41, 0},
    {id::kTestKey, kButton, text::kTestKey, 0, kShown | kDisabled, 93, 268, 88, 25, 0},
    {id::kBand7Led, kStatic, "", 0, kImage, 98, 154, 6, 6, id::kBitmapLedOff},
    {id::kBand10Led, kStatic, "", 0, kImage, 159, 154, 6, 6, id::kBitmapLedOff},
    {id::kBand14Led, kStatic, "", 0, kImage, 221, 154, 6, 6, id::kBitmapLedOff},
    {id::kBand18Led, kStatic, "", 0, kImage, 282, 154, 6, 6, id::kBitmapLedOff},
    {id::kBand21Led, kStatic, "", 0, kImage, 344, 154, 6, 6, id::kBitmapLedOff},
    {id::kBand24Led, kStatic, "", 0, kImage, 405, 154, 6, 6, id::kBitmapLedOff},
    {id::kBand28Led, kStatic, "", 0, kImage, 466, 154, 6, 6, id::kBitmapLedOff},
    {id::kBand50Led, kStatic, "", 0, kImage, 528, 154, 6, 6, id::kBitmapLedOff},
    {id::kPowerLed, kStatic, "", 0, kImage, 98, 55, 6, 6, id::kBitmapLedOff},
    {id::kNormalLed, kStatic, "", 0, kImage, 650, 35, 6, 6, id::kBitmapLedOff},
    {id::kReverseLed, kStatic, "", 0, kImage, 650, 53, 6, 6, id::kBitmapLedOff},
    {id::kDipoleLed, kStatic, "", 0, kImage, 650, 70, 6, 6, id::kBitmapLedOff},
    {id::kUpKey, kButton, "", 0, kShown, 456, 42, 28, 28, 0},
    {id::kDownKey, kButton, "", 0, kShown, 456, 99, 28, 28, 0},
    {id::kStepIndicator, kStatic, "", 0, kImage, 367, 56, 28, 64, id::kBitmapStepNone},
    {id::kStepKey, kButton, "", 0, kShown, 437, 68, 13, 34, 0},
};

const std::size_t kMainControlCount = sizeof kMainControls / sizeof kMainControls[0];

const ControlEntry* FindMainControl(int controlId) {
    for (std::size_t i = 0; i < kMainControlCount; ++i) {
        if (kMainControls[i].id == controlId) {
            return &kMainControls[i];
        }
    }
    return nullptr;
}
