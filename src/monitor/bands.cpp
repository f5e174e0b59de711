#include "monitor/bands.h"

#include "app/ids.h"
#include "app/state.h"

namespace {

constexpr int k10K = id::kBitmapStep10k;
constexpr int k20K = id::kBitmapStep20k;
constexpr int k40K = id::kBitmapStep40k;
constexpr int k50K = id::kBitmapStep50k;

// 80 m, 75 m and 30 m share the 10 MHz key; " 6m" begins with a blank.
constexpr Band kBands[] = {
    {"40m", 0, k20K, k10K, true, false},
    {"80m", 1, k20K, k10K, true, false},
    {"75m", 1, k20K, k10K, true, false},
    {"30m", 1, k40K, k20K, true, false},
    {"20m", 2, k40K, k20K, true, true},
    {"17m", 3, k50K, k50K, false, false},
    {"15m", 4, k50K, k50K, false, false},
    {"12m", 5, k50K, k50K, false, false},
    {"10m", 6, k50K, k50K, false, false},
    {" 6m", 7, k50K, k50K, false, false},
    {"Ele", kNoBandKey, id::kBitmapStepNone, id::kBitmapStepNone, false, false},
};

}  // namespace

const Band* FindBand(const std::string& code) {
    for (const Band& band : kBands) {
        if (code == band.code) {
            return &band;
        }
    }
    return nullptr;
}

int StepImage(const Band& band, bool largeStep) {
    if (band.restrictedStep && app.modelRestricted == 1) {
        return k50K;
    }
    return largeStep ? band.largeStepImage : band.smallStepImage;
}
