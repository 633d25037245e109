// The small modal boxes of the terminal front end: the About box and the
// messages the window shows in message boxes (modal_messages.h). Both are
// closed with Enter, Esc or Space.
#pragma once

#include <string>

#include "tester/ui/tui/modal_messages.h"

// "vesktest v1.1.2 (build 001)": the program's name and version, from the
// version numbers (ReadProgramVersion).
std::string ProgramVersionText();

void DrawAboutBox();
void DrawMessageBox(const ModalMessage& message);

// Whether `key` closes a box.
bool ClosesBox(int key);
