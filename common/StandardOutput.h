#pragma once
// Standard output of every program and command (edogtool, edog-sim), checked in one place:
// output that could not be written (a full disk, /dev/full, a closed descriptor) must not
// end as a success.
#include <string>

namespace edog {

// Before anything is opened: a closed standard descriptor gets a placeholder whose writes
// fail, so that no file the command opens takes its number and receives its output.
void GuardStandardStreams();

// True once a write to standard output has failed; a command that copies a stream stops.
bool StandardOutputFailed();

// Flushes standard output now (a program that runs on, as edog-sim does); false once a
// write failed. The stream drops the bytes it could not write, so the reason is kept for
// FinishStandardOutput.
bool FlushStandardOutput();

// The command's end: flushes standard output; when a write failed, prints
// "write error: <reason>" on standard error and gives exit status 1 (a failure status the
// command gave stays). A reader that went away (a closed pipe) ends quietly.
int FinishStandardOutput(int status);

}  // namespace edog
