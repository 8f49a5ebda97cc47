#pragma once
// The program's text is UTF-8. Redirected to a file or a pipe it goes out as those bytes;
// a Windows console would read them in its own code page and garble every Chinese text,
// so there (Windows, stdout or stderr a console) the bytes are turned into UTF-16 and
// written with WriteConsoleW. Elsewhere this does nothing.
namespace edog::cli {

// Call once, first thing in main.
void RouteUtf8ToConsole();
// Whether standard output is a terminal or console (also once routed to the console).
bool OutputIsConsole();

}  // namespace edog::cli
