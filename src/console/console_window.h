// The diagnostic console window frmMain: one window for the whole run.
#pragma once

class QWidget;

// Shows the console (creating it on first use) and brings it to the front. Created while
// `deck` is visible, it opens beside it, to its right, top edges level.
void ShowConsoleWindow(const QWidget* deck = nullptr);
// Destroys the console, if there is one. The program calls it before its QApplication goes
// away; a console left at exit is never destroyed by a static destructor.
void DestroyConsoleWindow();
