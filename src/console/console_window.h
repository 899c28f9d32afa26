// The diagnostic console window frmMain: one window for the whole run.
#pragma once

// Shows the console (creating it on first use) and brings it to the front.
void ShowConsoleWindow();
