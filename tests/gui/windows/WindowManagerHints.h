#pragma once
// What the window manager made of a top-level window, read from the display's properties:
// the actions it allows (its title bar buttons follow them) and its frame.
#include <wx/toplevel.h>

#include <string>
#include <vector>

namespace edog::guitest {

struct ManagedFrame {
  bool found = false;
  std::vector<std::string> allowedActions;  // _NET_WM_ACTION_* names
  std::string windowType;                   // _NET_WM_WINDOW_TYPE_* name
  int titleHeight = 0;                      // top of _NET_FRAME_EXTENTS
  // The title bar as drawn: the caption's label (its widest part) and the buttons beside
  // it (window icon, minimise, maximise, close, ...), each a window of the frame.
  int labelWidth = 0;
  int titleButtons = 0;
  wxSize minSize, maxSize;  // from WM_NORMAL_HINTS; default when not given
  // What the window itself asks for: the functions and decorations of _MOTIF_WM_HINTS
  // (-1 when not given) and the window it is transient for.
  long motifFunctions = -1, motifDecorations = -1;
  unsigned long window = 0, transientFor = 0;
};

// Bits of _MOTIF_WM_HINTS.
enum MotifFunction : long {
  kMwmFuncResize = 1 << 1, kMwmFuncMove = 1 << 2, kMwmFuncMinimize = 1 << 3,
  kMwmFuncMaximize = 1 << 4, kMwmFuncClose = 1 << 5
};
enum MotifDecoration : long {
  kMwmDecorBorder = 1 << 1, kMwmDecorResizeH = 1 << 2, kMwmDecorTitle = 1 << 3,
  kMwmDecorMenu = 1 << 4, kMwmDecorMinimize = 1 << 5, kMwmDecorMaximize = 1 << 6
};

// True when a window manager has taken the display.
bool WindowManagerRunning();
// The managed client window of `window` (found by its title and client rectangle); `found`
// stays false while the manager has not taken it yet.
ManagedFrame ReadManagedFrame(wxTopLevelWindow* window);
// Asks the window manager to minimise the managed window, as its minimise button does.
void Minimise(unsigned long window);
// True while the window manager keeps the window minimised (WM_STATE iconic).
bool Minimised(unsigned long window);

}  // namespace edog::guitest
