// The commands start-up probes a tape device with, for SetProbeCommands (transport/startup.h).
#pragma once

#include "tape/unit_mode.h"
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
