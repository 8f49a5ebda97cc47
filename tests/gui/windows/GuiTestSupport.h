#pragma once
// Helpers of the window tests: running the event loop until something holds, clicking,
// and saving what a window shows.
#include <wx/bitmap.h>
#include <wx/event.h>
#include <wx/window.h>

#include <functional>
#include <string>

namespace edog::guitest {

// Runs the event loop (timers, queued calls, paints) until `done` holds; false when it
// still does not hold after `timeoutMs` (a bound against hanging, not a timing check).
bool RunLoopUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Lets pending paints and queued calls run.
void Flush();

// A click on a button, check box or radio button, as the control itself reports it.
void Click(wxWindow* control);

// Screen rectangle of a mapped top-level window of another program, found by the
// program's name (its window class); an empty rectangle while there is none.
wxRect FindProgramWindow(const std::string& programName);

// What the window shows on screen, read back from the display.
wxBitmap Capture(wxWindow* window);
// Saves a PNG under the build's artifacts folder; returns its path.
std::string SaveArtifact(const wxBitmap& bitmap, const std::string& name);

}  // namespace edog::guitest
