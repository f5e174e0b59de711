// The About box: the program's version and what the controller reported of itself.
#pragma once

void ShowAbout();
