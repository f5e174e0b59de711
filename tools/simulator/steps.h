// The scripted steps: what a script line or a control line can tell the
// simulator to do. One table holds them all (steps.cpp).
#pragma once

#include <string>

#include "sim_state.h"

namespace tovaksim {

struct StepDef;

struct Step {
    const StepDef* def = nullptr;  // null for a blank or comment line
    std::string bytes;             // the decoded text, where the step takes one
    long long number = 0;
};

// Parses one line. Blank lines and lines starting with '#' give a step without
// def. Returns false with a reason (naming the step's usage) on a bad line.
bool ParseStep(const std::string& line, Step& step, std::string& error);

// Runs a parsed step against the line; returns false with a reason.
bool RunStep(SimState& state, const Step& step, std::string& error);

// "name usage" of every step, one a line, for --help.
std::string StepUsage();

}  // namespace tovaksim
