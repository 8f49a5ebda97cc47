#pragma once
// Helpers of the window tests: running the event loop until something holds, clicking,
// and saving what a window shows.
#include <wx/bitmap.h>
#include <wx/event.h>
#include <wx/image.h>
#include <wx/window.h>

#include <functional>
#include <string>
#include <vector>

namespace edog::guitest {

// Runs the event loop (timers, queued calls, paints) until `done` holds; false when it
// still does not hold after `timeoutMs` (a bound against hanging, not a timing check).
bool RunLoopUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// The device library as built beside the programs; without it every probe is "absent".
std::string BuiltDeviceLibrary();
// Lets pending paints and queued calls run.
void Flush();

// A click on a button, check box or radio button, as the control itself reports it.
void Click(wxWindow* control);

// Deleter for a top-level window a test owns: Destroy(), then let the destruction run.
struct DestroyWindow {
  void operator()(wxWindow* window) const {
    window->Destroy();
    Flush();
  }
};

// Screen rectangle of a mapped top-level window of another program, found by the
// program's name (its window class); an empty rectangle while there is none.
wxRect FindProgramWindow(const std::string& programName);

// The shown controls of a top-level window that are cut: outside its client area, or
// narrower or lower than they need for their text (buttons, boxes, radios, labels that
// size themselves). `skip` leaves out controls placed outside on purpose.
std::vector<std::string> ClippedControls(wxWindow* window,
                                         const std::function<bool(wxWindow*)>& skip = {});

// What the window shows on screen, read back from the display (the window raised first).
wxBitmap Capture(wxWindow* window);
// What the display shows in `rect` of the screen as it is, nothing raised or repainted.
wxImage CaptureScreen(const wxRect& rect);
// Saves a PNG under the build's artifacts folder; returns its path.
std::string SaveArtifact(const wxBitmap& bitmap, const std::string& name);

}  // namespace edog::guitest
