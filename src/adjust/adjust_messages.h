// The controller's answers as the Adjust window reads them: element lengths,
// element names, errors, motor start and stop.
#pragma once

#include <cstddef>
#include <string>

// What one poll remembers from one message to the next.
struct AdjustScan {
    bool maxLengthShown = false;  // at most one "Max Length : " box per poll
};

// One complete message, without its ";".
void InterpretAdjustMessage(const std::string& message, AdjustScan& scan);

// An "Er" message, by the Adjust window's own table of error codes.
void ReportAdjustError(const std::string& message, AdjustScan& scan);

// The six length fields, from elementLengths.
void ShowElementLengths();

// Choice i shows the name; a name of eight blanks is an absent element.
void ShowElementName(std::size_t element, const std::string& name);
