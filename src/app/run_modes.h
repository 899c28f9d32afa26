// The three things the program can run, each returning the process exit status.
#pragma once

#include "app/options.h"

// --scan: start-up discovery without windows; prints the adapter table and the drive chosen.
int RunScanMode(const Options& options);
// --capture: start-up without windows, then the tape's audio into a WAV file.
int RunCaptureMode(const Options& options);
// --archive: start-up without windows, then the tape into an archive package.
int RunArchiveMode(const Options& options);
// --record: the files checked, start-up without windows, then the files onto the tape and
// the tape read back.
int RunRecordMode(const Options& options);
// --merge with --archive: packages merged into a new one, no drive at all.
int RunMergeMode(const Options& options);
// The deck window (and the console with --console) on a QApplication.
int RunDeckMode(const Options& options);
