#pragma once
// Standard output of every command, checked in one place: output that could not be
// written (a full disk, /dev/full, a closed descriptor) must not end as a success.
#include <string>

namespace edog::cli {

// Before anything is opened: a closed standard descriptor gets a placeholder whose writes
// fail, so that no file the command opens takes its number and receives its output.
void GuardStandardStreams();

// True once a write to standard output has failed; a command that copies a stream stops.
bool StandardOutputFailed();

// The command's end: flushes standard output; when a write failed, prints
// "write error: <reason>" on standard error and gives exit status 1 (a failure status the
// command gave stays). A reader that went away (a closed pipe) ends quietly.
int FinishStandardOutput(int status);

}  // namespace edog::cli
