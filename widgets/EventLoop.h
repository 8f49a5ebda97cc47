#pragma once
// Running the window system's events from inside a handler (the message-pump waits).
#include <wx/dialog.h>

#include <functional>

// Dispatches events (timers, queued calls, paints, input) until `done` holds. Inside a
// running loop (a modal dialog's) that loop dispatches: a second loop made active there
// would leave the windows unpainted once the modal loop ends. Otherwise a loop of its own
// runs for the time being. `done` is looked at about every 10 ms at least.
void DispatchEventsUntil(const std::function<bool()>& done);

// Ends a dialog as the framework's OK and Cancel do: a modal one returns `code` from its
// modal run; a modeless one is hidden with that return code.
void EndDialogWith(wxDialog& dialog, int code);
