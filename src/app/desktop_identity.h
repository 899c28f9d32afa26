// The program's identity on the desktop: the desktop-entry ID and the window icon, so that
// the taskbar, the window and the menu entry show the same program.
#pragma once

// The reverse-DNS ID: the desktop entry's file name without ".desktop", the AppStream ID
// and the icon's name.
inline constexpr const char* kDesktopId = "io.github.vantrel.Vantrel";

// Call once, right after the QApplication is created and before any window is shown.
void ApplyDesktopIdentity();
