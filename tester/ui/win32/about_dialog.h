// The About box and what both modal dialogs share: centring over the owner.
#pragma once

#include "platform/win32_types.h"

// Runs the About box modally, owned by `owner` (the active window); OK,
// Enter or Esc close it.
void RunAboutDialog(HWND owner);

// Centres `dialog` over its owner window (over the work area when it has
// none), kept inside the work area of the owner's monitor.
void CenterOverOwner(HWND dialog);
