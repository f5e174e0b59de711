// The controller's error reports as the Adjust window shows them: its own
// table, which knows codes the main window does not.
#include "adjust/adjust_messages.h"

#include "app/state.h"
#include "app/texts.h"
#include "link/transmit.h"

namespace {

constexpr std::size_t kCodePosition = 5;

enum class Rule {
    kShow,       // the text of the table
    kSilent,     // nothing at all
    kMaxLength,  // names the element in the message's last character
};

struct AdjustError {
    char code;
    Rule rule;
    const char* text;
};

constexpr AdjustError kAdjustErrors[] = {
    {'1', Rule::kShow, text::kErrorUnknownCommand},
    {'2', Rule::kSilent, nullptr},
    {'3', Rule::kSilent, nullptr},
    {'4', Rule::kShow, text::kErrorAdjustMode},
    {'5', Rule::kShow, text::kErrorMotorOrCalibration},
    {'6', Rule::kShow, text::kErrorNotLocked},
    {'7', Rule::kMaxLength, nullptr},
};

const AdjustError* FindError(const std::string& message) {
    if (message.size() < kCodePosition) {
        return nullptr;
    }
    for (const AdjustError& error : kAdjustErrors) {
        if (error.code == message[kCodePosition - 1]) {
            return &error;
        }
    }
    return nullptr;
}

void ShowError(const std::string& text) {
    ShowMessage(text, text::kErrorCaption, box::kError);
}

// At most one box per poll, however many of these reports one read holds.
void ReportMaxLength(const std::string& message, AdjustScan& scan) {
    const char last = message.back();
    if (scan.maxLengthShown || last < '0' || last > '5') {
        return;
    }
    scan.maxLengthShown = true;
    ShowError(text::kMaxLength + app.elementNames[static_cast<std::size_t>(last - '0')]);
}

}  // namespace

void ReportAdjustError(const std::string& message, AdjustScan& scan) {
    const AdjustError* error = FindError(message);
    if (error == nullptr) {
        ShowError(text::kUnknownErrorOpen + message + text::kUnknownErrorClose);
        return;
    }
    switch (error->rule) {
        case Rule::kShow:
            ShowError(error->text);
            break;
        case Rule::kSilent:
            break;
        case Rule::kMaxLength:
            ReportMaxLength(message, scan);
            break;
    }
}
