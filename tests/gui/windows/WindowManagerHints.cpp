#include "WindowManagerHints.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <memory>

#include "widgets/WxText.h"

namespace edog::guitest {
namespace {

using DisplayPtr = std::unique_ptr<Display, int (*)(Display*)>;

DisplayPtr Open() { return DisplayPtr(XOpenDisplay(nullptr), XCloseDisplay); }

// The property's items; empty when it is not set.
template <typename Item>
std::vector<Item> Property(Display* d, ::Window w, const char* name, Atom type) {
  std::vector<Item> items;
  Atom actual;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(d, w, XInternAtom(d, name, False), 0, 1024, False, type, &actual,
                         &format, &count, &after, &data) == Success &&
      data) {
    // Format 32 items arrive as longs, whatever their type.
    if (format == 32) {
      const auto* values = reinterpret_cast<const unsigned long*>(data);
      for (unsigned long i = 0; i < count; ++i) items.push_back(static_cast<Item>(values[i]));
    } else if (format == 8) {
      for (unsigned long i = 0; i < count; ++i) items.push_back(static_cast<Item>(data[i]));
    }
  }
  if (data) XFree(data);
  return items;
}

std::string AtomName(Display* d, Atom atom) {
  char* name = XGetAtomName(d, atom);
  std::string result = name ? name : "";
  if (name) XFree(name);
  return result;
}

std::vector<::Window> Children(Display* d, ::Window w, ::Window* parent = nullptr) {
  ::Window root = 0, up = 0, *children = nullptr;
  unsigned count = 0;
  std::vector<::Window> result;
  if (XQueryTree(d, w, &root, &up, &children, &count)) {
    result.assign(children, children + count);
    if (children) XFree(children);
  }
  if (parent) *parent = up;
  return result;
}

std::vector<XWindowAttributes> MappedChildren(Display* d, ::Window w) {
  std::vector<XWindowAttributes> mapped;
  for (::Window child : Children(d, w)) {
    XWindowAttributes a;
    if (XGetWindowAttributes(d, child, &a) && a.map_state == IsViewable) mapped.push_back(a);
  }
  return mapped;
}

// The frame holds the client and, above it, the title bar whose parts are windows of
// their own; the window manager maps only the parts it shows.
void ReadTitleBar(Display* d, ::Window client, ManagedFrame& frame) {
  ::Window holder = 0;
  Children(d, client, &holder);
  XWindowAttributes clientAt;
  if (!holder || !XGetWindowAttributes(d, client, &clientAt)) return;
  for (::Window part : Children(d, holder)) {
    XWindowAttributes a;
    if (part == client || !XGetWindowAttributes(d, part, &a) || a.map_state != IsViewable ||
        a.y + a.height > clientAt.y) {
      continue;
    }
    std::vector<XWindowAttributes> pieces = MappedChildren(d, part);
    if (static_cast<int>(pieces.size()) <= frame.titleButtons) continue;
    int widest = 0;
    for (const XWindowAttributes& p : pieces) widest = std::max(widest, p.width);
    frame.labelWidth = widest;
    frame.titleButtons = static_cast<int>(pieces.size()) - 1;
  }
}

}  // namespace

bool WindowManagerRunning() {
  DisplayPtr d = Open();
  return d && !Property<::Window>(d.get(), DefaultRootWindow(d.get()), "_NET_SUPPORTING_WM_CHECK",
                                  XA_WINDOW)
                   .empty();
}

ManagedFrame ReadManagedFrame(wxTopLevelWindow* window) {
  ManagedFrame frame;
  DisplayPtr d = Open();
  if (!d) return frame;
  Display* display = d.get();
  const ::Window root = DefaultRootWindow(display);
  const std::string title = ToU8(window->GetTitle());
  const wxPoint origin = window->ClientToScreen(wxPoint(0, 0));
  const wxSize client = window->GetClientSize();
  const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  for (::Window w : Property<::Window>(display, root, "_NET_CLIENT_LIST", XA_WINDOW)) {
    const auto name = Property<char>(display, w, "_NET_WM_NAME", utf8);
    if (std::string(name.begin(), name.end()) != title) continue;
    XWindowAttributes attributes;
    int x = 0, y = 0;
    ::Window child;
    if (!XGetWindowAttributes(display, w, &attributes) ||
        !XTranslateCoordinates(display, w, root, 0, 0, &x, &y, &child) ||
        wxSize(attributes.width, attributes.height) != client || wxPoint(x, y) != origin) {
      continue;
    }
    frame.found = true;
    for (Atom a : Property<Atom>(display, w, "_NET_WM_ALLOWED_ACTIONS", XA_ATOM)) {
      frame.allowedActions.push_back(AtomName(display, a));
    }
    const auto types = Property<Atom>(display, w, "_NET_WM_WINDOW_TYPE", XA_ATOM);
    if (!types.empty()) frame.windowType = AtomName(display, types.front());
    const auto extents = Property<long>(display, w, "_NET_FRAME_EXTENTS", XA_CARDINAL);
    if (extents.size() == 4) frame.titleHeight = static_cast<int>(extents[2]);
    ReadTitleBar(display, w, frame);
    frame.window = w;
    const auto motif = Property<long>(display, w, "_MOTIF_WM_HINTS", AnyPropertyType);
    if (motif.size() >= 3) {
      if (motif[0] & 1) frame.motifFunctions = motif[1];
      if (motif[0] & 2) frame.motifDecorations = motif[2];
    }
    ::Window owner = 0;
    if (XGetTransientForHint(display, w, &owner)) frame.transientFor = owner;
    XSizeHints hints{};
    long supplied = 0;
    if (XGetWMNormalHints(display, w, &hints, &supplied)) {
      if (hints.flags & PMinSize) frame.minSize = wxSize(hints.min_width, hints.min_height);
      if (hints.flags & PMaxSize) frame.maxSize = wxSize(hints.max_width, hints.max_height);
    }
    break;
  }
  return frame;
}

void Minimise(unsigned long window) {
  DisplayPtr d = Open();
  if (!d) return;
  XIconifyWindow(d.get(), window, DefaultScreen(d.get()));
  XFlush(d.get());
}

bool Minimised(unsigned long window) {
  DisplayPtr d = Open();
  if (!d) return false;
  const Atom wmState = XInternAtom(d.get(), "WM_STATE", False);
  const auto state = Property<long>(d.get(), window, "WM_STATE", wmState);
  return !state.empty() && state.front() == IconicState;
}

}  // namespace edog::guitest
