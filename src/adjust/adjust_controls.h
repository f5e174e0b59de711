// The seventeen controls of the Adjust window, as data, in creation order
// (which is also the tab order), and the ids the exchange addresses by element.
#pragma once

#include <array>
#include <cstddef>

#include "app/controls.h"
#include "app/ids.h"
#include "app/state.h"

extern const ControlEntry kAdjustControls[];
extern const std::size_t kAdjustControlCount;

// Length field and choice of element i.
constexpr std::array<int, kElementCount> kLengthFields = {
    id::kAdjustLength1, id::kAdjustLength2, id::kAdjustLength3,
    id::kAdjustLength4, id::kAdjustLength5, id::kAdjustLength6,
};
constexpr std::array<int, kElementCount> kElementChoices = {
    id::kAdjustEle1, id::kAdjustEle2, id::kAdjustEle3,
    id::kAdjustEle4, id::kAdjustEle5, id::kAdjustEle6,
};
