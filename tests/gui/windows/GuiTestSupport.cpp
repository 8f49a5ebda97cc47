#include "GuiTestSupport.h"

#include "common/DynamicLibrary.h"
#include "device/UsbLibraryApi.h"
#include "support/TestSupport.h"
#include "widgets/EventLoop.h"
#include "widgets/WxText.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/dcmemory.h>
#include <wx/evtloop.h>
#include <wx/image.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#include <wx/toplevel.h>

#include <chrono>
#include <filesystem>
#include <memory>

namespace edog::guitest {

bool RunLoopUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool held = false;
  DispatchEventsUntil([&] {
    held = done();
    return held || std::chrono::steady_clock::now() > deadline;
  });
  return held;
}

std::string BuiltDeviceLibrary() {
  return test::StandInLibrary();
}

std::vector<std::string> ClippedControls(wxWindow* window,
                                         const std::function<bool(wxWindow*)>& skip) {
  std::vector<std::string> clipped;
  const wxRect client(window->GetClientSize());
  for (wxWindow* child : window->GetChildren()) {
    if (child->IsTopLevel() || !child->IsShown() || (skip && skip(child))) continue;
    const wxRect r = child->GetRect();
    const auto* label = dynamic_cast<wxStaticText*>(child);
    const bool sizesToText =
        dynamic_cast<wxButton*>(child) || dynamic_cast<wxComboBox*>(child) ||
        dynamic_cast<wxCheckBox*>(child) || dynamic_cast<wxRadioButton*>(child) ||
        (label && !(label->GetWindowStyle() & (wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_MASK)));
    const wxSize best = child->GetBestSize();
    if (!client.Contains(r) || (sizesToText && (r.width < best.x || r.height < best.y))) {
      clipped.push_back(ToU8(child->GetLabel()) + " (id " + std::to_string(child->GetId()) +
                        ") at " + std::to_string(r.x) + "," + std::to_string(r.y) + " " +
                        std::to_string(r.width) + "x" + std::to_string(r.height) + " (needs " +
                        std::to_string(best.x) + "x" + std::to_string(best.y) + ") in " +
                        std::to_string(client.width) + "x" + std::to_string(client.height));
    }
  }
  return clipped;
}

void Flush() {
  int rounds = 0;
  RunLoopUntil([&] { return ++rounds > 20; }, 2000);
}

void Click(wxWindow* control) {
  if (auto* box = dynamic_cast<wxCheckBox*>(control)) {
    box->SetValue(!box->GetValue());
    wxCommandEvent event(wxEVT_CHECKBOX, box->GetId());
    event.SetInt(box->GetValue() ? 1 : 0);
    event.SetEventObject(box);
    box->ProcessWindowEvent(event);
  } else if (auto* radio = dynamic_cast<wxRadioButton*>(control)) {
    radio->SetValue(true);
    wxCommandEvent event(wxEVT_RADIOBUTTON, radio->GetId());
    event.SetInt(1);
    event.SetEventObject(radio);
    radio->ProcessWindowEvent(event);
  } else {
    wxCommandEvent event(wxEVT_BUTTON, control->GetId());
    event.SetEventObject(control);
    control->ProcessWindowEvent(event);
  }
}

wxRect FindProgramWindow(const std::string& programName) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return wxRect();
  wxRect found;
  ::Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, root, &root, &parent, &children, &count)) {
    for (unsigned i = 0; i < count && found.IsEmpty(); ++i) {
      XWindowAttributes attributes;
      XClassHint hint{};
      if (!XGetWindowAttributes(display, children[i], &attributes) ||
          attributes.map_state != IsViewable || !XGetClassHint(display, children[i], &hint)) {
        continue;
      }
      if (hint.res_name && programName == hint.res_name) {
        found = wxRect(attributes.x, attributes.y, attributes.width, attributes.height);
      }
      if (hint.res_name) XFree(hint.res_name);
      if (hint.res_class) XFree(hint.res_class);
    }
    if (children) XFree(children);
  }
  XCloseDisplay(display);
  return found;
}

wxBitmap Capture(wxWindow* window) {
  wxWindow* top = wxGetTopLevelParent(window);
  if (top) top->Raise();
  window->Refresh();
  window->Update();
  Flush();
  return wxBitmap(CaptureScreen(window->GetScreenRect()), 24);
}

wxImage CaptureScreen(const wxRect& rect) {
  // Read straight from the display over a connection of our own: wxScreenDC keeps
  // showing its first picture of the screen on GTK 3, so later shots would miss what
  // changed since.
  wxImage image(rect.width, rect.height);
  Display* display = XOpenDisplay(nullptr);
  if (!display) return image;
  XImage* shot = XGetImage(display, DefaultRootWindow(display), rect.x, rect.y,
                           static_cast<unsigned>(rect.width), static_cast<unsigned>(rect.height),
                           AllPlanes, ZPixmap);
  if (shot) {
    for (int y = 0; y < rect.height; ++y) {
      for (int x = 0; x < rect.width; ++x) {
        const unsigned long p = XGetPixel(shot, x, y);
        image.SetRGB(x, y, (p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
      }
    }
    XDestroyImage(shot);
  }
  XCloseDisplay(display);
  return image;
}

std::string SaveArtifact(const wxBitmap& bitmap, const std::string& name) {
  std::filesystem::create_directories(EDOG_ARTIFACT_DIR);
  const std::string path = std::string(EDOG_ARTIFACT_DIR) + "/" + name;
  bitmap.ConvertToImage().SaveFile(path, wxBITMAP_TYPE_PNG);
  return path;
}

}  // namespace edog::guitest
