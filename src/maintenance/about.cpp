#include "maintenance/about.h"

#include <string>

#include "app/state.h"
#include "app/texts.h"
#include "platform/platform.h"

void ShowAbout() {
    // Model, serial and program lines each end in their own CR and stay empty
    // until the controller has reported them.
    const std::string lines = std::string(text::kAboutTitle) + text::kBoxLineBreak +
                              text::kBoxLineBreak + text::kAboutNotice + text::kBoxLineBreak +
                              text::kBoxLineBreak + app.modelText + app.serialText +
                              app.programText;
    // Owned by the main window, unlike every other box; the answer is not kept.
    platform::ShowOwnedMessageBox(lines, text::kAboutCaption, box::kPlain);
}
