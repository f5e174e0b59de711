#include "monitor/errors.h"

#include "app/texts.h"
#include "link/transmit.h"
#include "text/fields.h"

namespace {

constexpr std::size_t kCodePosition = 5;

struct ControllerError {
    char code;
    const char* text;
};

// The main window's texts; codes the Adjust window knows ("3", "7") are not here.
constexpr ControllerError kControllerErrors[] = {
    {'1', text::kErrorUnknownCommand}, {'2', text::kErrorMotorOrHome},
    {'4', text::kErrorAdjustMode},     {'5', text::kErrorMotorOrCalibration},
    {'6', text::kErrorNotLocked},
};

std::string ErrorText(const std::string& message) {
    const std::string code = CharsAt(message, kCodePosition, 1);
    for (const ControllerError& error : kControllerErrors) {
        if (code.size() == 1 && code[0] == error.code) {
            return error.text;
        }
    }
    return text::kUnknownErrorOpen + message + text::kUnknownErrorClose;
}

}  // namespace

void ReportControllerError(const std::string& message) {
    ShowMessage(ErrorText(message), text::kErrorCaption, box::kError);
}
