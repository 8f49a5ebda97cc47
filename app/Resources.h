#pragma once
// The program's resources, drawn in code so that every platform gets the same pictures
// without a resource compiler: the background picture (1024), the device picture (153),
// the application icon (128) and the strings.
#include <wx/bitmap.h>
#include <wx/iconbndl.h>
#include <wx/string.h>

// The bitmap of a resource id (IDB_BACKGROUND: 500 x 233, 24 bits; IDB_DEVICE), or an
// invalid bitmap for an unknown id.
wxBitmap LoadResourceBitmap(int id);
// The application icon in 16, 32 and 48 pixels.
wxIconBundle LoadAppIcon();
// The icon's picture at any size, with alpha (the menu entry's icons come from it).
wxBitmap PaintAppIcon(int size);
// A string resource, empty for an unknown id.
wxString LoadResourceString(int id);

#include <wx/font.h>

// The main window's font: 9 pt in the first Song (then other CJK) face the system has,
// from an explicit list checked with the font enumerator (Pango would otherwise
// substitute silently); the system's GUI font at 9 pt when none is present.
wxFont LoadMainFont();
