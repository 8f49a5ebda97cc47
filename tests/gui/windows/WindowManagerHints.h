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
};

// True when a window manager has taken the display.
bool WindowManagerRunning();
// The managed client window of `window` (found by its title and client rectangle); `found`
// stays false while the manager has not taken it yet.
ManagedFrame ReadManagedFrame(wxTopLevelWindow* window);

}  // namespace edog::guitest
