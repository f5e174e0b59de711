// The controller's refusals ("Er" messages), explained to the user.
#pragma once

#include <string>

// One error box per message, closed by the user before the next message is
// handled. The status model does not change.
void ReportControllerError(const std::string& message);
