// Session start (end of the main window's creation) and shutdown (its destruction).
#pragma once

void StartSession();
void EndSession();
