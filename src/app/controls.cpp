#include "app/controls.h"

#include "app/ids.h"

namespace {
constexpr const char* kStatic = "STATIC";
constexpr const char* kButton = "BUTTON";
constexpr const char* kEdit = "EDIT";
using namespace style;
}  // namespace

// Keys have no text: their meaning comes from the labels of the picture.
const ControlEntry kMainControls[] = {
    {1000, kStatic, "", 0, kImage, 0, 1, 759, 237, id::kBitmapPanel},
    {1001, kButton, "", 0, kShown, 88, 71, 28, 28, 0},
    {1002, kButton, "", 0, kShown, 517, 42, 28, 28, 0},
    {1003, kButton, "", 0, kShown, 517, 99, 28, 28, 0},
    {1004, kButton, "", 0, kShown, 579, 42, 28, 28, 0},
    {1005, kButton, "", 0, kShown, 579, 99, 28, 28, 0},
    {1006, kButton, "", 0, kShown, 640, 99, 28, 28, 0},
    {1007, kButton, "", 0, kShown, 88, 171, 28, 28, 0},
    {1008, kButton, "", 0, kShown, 149, 171, 28, 28, 0},
    {1009, kButton, "", 0, kShown, 210, 171, 28, 28, 0},
    {1010, kButton, "", 0, kShown, 272, 171, 28, 28, 0},
    {1011, kButton, "", 0, kShown, 333, 171, 28, 28, 0},
    {1012, kButton, "", 0, kShown, 394, 171, 28, 28, 0},
    {1013, kButton, "", 0, kShown, 456, 171, 28, 28, 0},
    {1014, kButton, "", 0, kShown, 517, 172, 28, 28, 0},
    {1015, kButton, "", 0, kShown, 579, 171, 28, 28, 0},
    {1016, kButton, "", 0, kShown, 640, 171, 28, 28, 0},
    {1017, kStatic, "Connecting...", 0, kShown, 175, 64, 185, 46, 0},
    {1018, kEdit, "", kClientEdge, kChild, 58, 246, 123, 18, 0},
    {1019, kEdit, "", kClientEdge, kChild, 205, 246, 607, 41, 0},
    {1020, kButton, "Test", 0, kShown | kDisabled, 93, 268, 88, 25, 0},
    {1021, kStatic, "", 0, kImage, 98, 154, 6, 6, id::kBitmapLedOff},
    {1022, kStatic, "", 0, kImage, 159, 154, 6, 6, id::kBitmapLedOff},
    {1023, kStatic, "", 0, kImage, 221, 154, 6, 6, id::kBitmapLedOff},
    {1024, kStatic, "", 0, kImage, 282, 154, 6, 6, id::kBitmapLedOff},
    {1025, kStatic, "", 0, kImage, 344, 154, 6, 6, id::kBitmapLedOff},
    {1026, kStatic, "", 0, kImage, 405, 154, 6, 6, id::kBitmapLedOff},
    {1027, kStatic, "", 0, kImage, 466, 154, 6, 6, id::kBitmapLedOff},
    {1028, kStatic, "", 0, kImage, 528, 154, 6, 6, id::kBitmapLedOff},
    {1029, kStatic, "", 0, kImage, 98, 55, 6, 6, id::kBitmapLedOff},
    {1030, kStatic, "", 0, kImage, 650, 35, 6, 6, id::kBitmapLedOff},
    {1031, kStatic, "", 0, kImage, 650, 53, 6, 6, id::kBitmapLedOff},
    {1032, kStatic, "", 0, kImage, 650, 70, 6, 6, id::kBitmapLedOff},
    {1033, kButton, "", 0, kShown, 456, 42, 28, 28, 0},
    {1034, kButton, "", 0, kShown, 456, 99, 28, 28, 0},
    {1035, kStatic, "", 0, kImage, 367, 56, 28, 64, id::kBitmapStepNone},
    {1036, kButton, "", 0, kShown, 437, 68, 13, 34, 0},
};

const std::size_t kMainControlCount = sizeof kMainControls / sizeof kMainControls[0];
