// The model's settings: its state at start (command-line options "--NAME VALUE")
// and changes while it runs (the step "model NAME VALUE"). One table holds them all
// (model_settings.cpp).
#pragma once

#include <string>

#include "controller_model.h"

namespace tovaksim {

bool IsModelSetting(const std::string& name);

// Changes one setting; returns false with a reason on an unknown name or a bad
// value, leaving the model as it was. A change of power acts as the POWER key
// pressed on the controller itself, and reports itself like one.
bool ApplyModelSetting(ModelState& model, const std::string& name, const std::string& value,
                       Clock::time_point now, std::string& error);

// One line per setting, each starting with prefix and the setting's name.
std::string ModelSettingsUsage(const std::string& prefix);

}  // namespace tovaksim
