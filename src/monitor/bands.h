// The bands the controller's display names, with the band key each belongs to
// and the tuning step the indicator shows for each of its two units.
#pragma once

#include <string>

constexpr int kNoBandKey = -1;  // the element display belongs to no band key

struct Band {
    const char* code;      // first three characters of the display field
    int key;               // band key 0 to 7 (the LED of key k is 1021 + k)
    int largeStepImage;    // step indicator for unit "MHz"
    int smallStepImage;    // step indicator for unit "mhz"
    bool unitSelectsStep;  // "Ud2"/"Ud3" move the indicator on this band
    bool restrictedStep;   // 50K on the restricted model whatever the unit
};

// The band of a display's code, or nullptr for a code the program does not know.
const Band* FindBand(const std::string& code);

// The step indicator image for the band and unit, on the model in use.
int StepImage(const Band& band, bool largeStep);
