#include "adjust/adjust_controls.h"

#include "app/texts.h"

namespace {
constexpr const char* kStatic = "STATIC";
constexpr const char* kButton = "BUTTON";
using namespace style;
constexpr std::uint32_t kKey = kShown | kTabStop;
constexpr std::uint32_t kChoice = kShown | kAutoRadio;
// cppcheck-suppress badBitmaskCheck ; BS_PUSHBUTTON is 0, named to say what the keys are
constexpr std::uint32_t kPushKey = kKey | kPushButton;
}  // namespace

// The element rows are 25 pixels apart; "Ele1" stands one pixel further right
// than the other choices and starts their radio group.
const ControlEntry kAdjustControls[] = {
    {id::kAdjustClose, kButton, text::kAdjustClose, 0, kKey | kDefaultButton, 210, 159, 75, 25, 0},
    {id::kAdjustLength1, kStatic, text::kAdjustNoLength, 0, kShown, 100, 13, 50, 12, 0},
    {id::kAdjustLength2, kStatic, text::kAdjustNoLength, 0, kShown, 100, 38, 50, 12, 0},
    {id::kAdjustLength3, kStatic, text::kAdjustNoLength, 0, kShown, 100, 63, 50, 12, 0},
    {id::kAdjustLength4, kStatic, text::kAdjustNoLength, 0, kShown, 100, 88, 50, 12, 0},
    {id::kAdjustLength5, kStatic, text::kAdjustNoLength, 0, kShown, 100, 113, 50, 12, 0},
    {id::kAdjustLength6, kStatic, text::kAdjustNoLength, 0, kShown, 100, 138, 50, 12, 0},
    {id::kAdjustEle1, kButton, text::kAdjustEle1, 0, kChoice | kGroup, 16, 13, 80, 15, 0},
    {id::kAdjustEle2, kButton, text::kAdjustEle2, 0, kChoice, 15, 38, 80, 15, 0},
    {id::kAdjustEle3, kButton, text::kAdjustEle3, 0, kChoice, 15, 63, 80, 15, 0},
    {id::kAdjustEle4, kButton, text::kAdjustEle4, 0, kChoice, 15, 88, 80, 15, 0},
    {id::kAdjustEle5, kButton, text::kAdjustEle5, 0, kChoice, 15, 113, 80, 15, 0},
    {id::kAdjustEle6, kButton, text::kAdjustEle6, 0, kChoice, 15, 138, 80, 15, 0},
    {id::kAdjustAll, kButton, text::kAdjustAll, 0, kChoice, 15, 163, 80, 15, 0},
    {id::kAdjustLong, kButton, text::kAdjustLong, 0, kPushKey, 210, 10, 75, 25, 0},
    {id::kAdjustSet, kButton, text::kAdjustSet, 0, kPushKey, 210, 50, 75, 25, 0},
    {id::kAdjustShort, kButton, text::kAdjustShort, 0, kPushKey | kNotify, 210, 90, 75, 25, 0},
};

const std::size_t kAdjustControlCount = sizeof kAdjustControls / sizeof kAdjustControls[0];
