// The commands start-up probes a tape device with, for SetProbeCommands (transport/startup.h):
// the window's drive routines, whose messages the probe holds back or shows.
#pragma once

#include "deck/drive_commands.h"
#include "transport/startup.h"

inline ProbeCommands AudioDriveProbe()
{
    ProbeCommands p;
    p.testUnitReady = &TestUnitReady;
    p.getDensityCode = &GetDensityCode;
    p.selectAudioMode = &SelectAudioMode;
    p.selectDensity = &SelectDensity;
    return p;
}
