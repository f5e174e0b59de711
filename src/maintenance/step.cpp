#include "maintenance/step.h"

#include <cstddef>
#include <string>

#include "app/state.h"
#include "app/texts.h"
#include "link/transmit.h"

namespace {

struct StepChange {
    const char* unit;     // the last characters of the display, exact case
    const char* command;  // the long press that selects the other step
};
constexpr StepChange kStepChanges[] = {
    {text::kUnitLargeStep, text::kStepFromLarger},
    {text::kUnitSmallStep, text::kStepFromSmaller},
};

constexpr std::size_t kUnitLength = 3;

}  // namespace

void ChangeStep() {
    const std::string& shown = app.frequencyText;
    const std::string unit =
        shown.size() < kUnitLength ? shown : shown.substr(shown.size() - kUnitLength);
    // The unit on the panel changes only when the controller reports the new step.
    for (const StepChange& change : kStepChanges) {
        if (unit == change.unit) {
            SendCommand(change.command);
            return;
        }
    }
}
