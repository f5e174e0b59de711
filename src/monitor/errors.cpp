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
    {'1', "Received an unknown command"},
    {'2', "During motor operation or HOME mode"},
    {'4', "Can't be execute commands.\r(Controller is ADJUST mode)"},
    {'5', "During motor operation or CALIBRATION mode"},
    {'6', "Can't be execute commands.\r(not lock staus)"},
};

std::string ErrorText(const std::string& message) {
    const std::string code = CharsAt(message, kCodePosition, 1);
    for (const ControllerError& error : kControllerErrors) {
        if (code.size() == 1 && code[0] == error.code) {
            return error.text;
        }
    }
    return "Unknown Error (" + message + ")";
}

}  // namespace

void ReportControllerError(const std::string& message) {
    ShowMessage(ErrorText(message), text::kErrorCaption, box::kError);
}
