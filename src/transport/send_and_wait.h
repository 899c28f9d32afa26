// Sending one execute record and waiting for it while the program's events go on.
#pragma once

#include "platform/aspi/aspi.h"

// Sends `srb` (filled by FillExecRecord; `buffer` is its data buffer or nullptr) and returns
// once SRB_Status is non-zero. Meanwhile pending events are processed; between them the
// thread blocks until the next event (the manager's completion posts one), so it never spins.
// A handler that runs inside the wait may send and wait for its own command; the outer wait
// resumes afterwards.
void SendAndWait(SRB_ExecSCSICmd& srb, void* buffer);

// Reads SRB_Status the way the manager's thread publishes it.
std::uint8_t LoadStatus(SRB_ExecSCSICmd& srb);
