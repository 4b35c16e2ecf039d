#pragma once
#include "core/cancellation.h"

namespace loadwing::cli {

// Installs the handlers for Ctrl-C (and on POSIX SIGTERM and SIGHUP). The first request sets
// InterruptToken(), which ends the transfer at its next wait; a second one ends the process at
// once (the operating system still closes the port).
void InstallInterruptHandlers();

// The process's one interrupt request, as the handlers set it.
CancellationToken& InterruptToken();

// For the platform's handler: marks the request; true when one was marked already.
bool NoteInterruptRequest();

}  // namespace loadwing::cli
