#include <windows.h>

#include <csignal>

#include "cli/Interrupt.h"

namespace edog::cli::interrupt_os {
namespace {

// Ctrl-C keeps SIGINT's status; Ctrl-Break and a closed console window count as SIGTERM.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT: RequestStop(SIGINT); return TRUE;
    case CTRL_BREAK_EVENT: RequestStop(SIGTERM); return TRUE;
    case CTRL_CLOSE_EVENT:
      RequestStop(SIGTERM);
      // The process ends when this returns: give the job its few seconds to clean up.
      Sleep(4000);
      return TRUE;
    default: return FALSE;
  }
}

}  // namespace

void Install() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

}  // namespace edog::cli::interrupt_os
