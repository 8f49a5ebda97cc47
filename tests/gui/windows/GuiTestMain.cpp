// The window tests share one wx application, started before and ended after all tests.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

// With EDOG_TEST_WINDOW_MANAGER set the tests run under a window manager started beside
// them: wait until it has taken the display, so no window is mapped before it manages.
bool WaitForWindowManager() {
  if (!std::getenv("EDOG_TEST_WINDOW_MANAGER")) return true;
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  bool managed = false;
  for (int i = 0; i < 200 && !managed; ++i) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, AnyPropertyType,
                           &type, &format, &count, &after, &data) == Success) {
      managed = count > 0;
    }
    if (data) XFree(data);
    if (!managed) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  XCloseDisplay(display);
  return managed;
}

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!WaitForWindowManager()) {
    fprintf(stderr, "EDOG_TEST_WINDOW_MANAGER is set but no window manager took the display\n");
    return 1;
  }
  wxApp::SetInstance(new wxApp);
  if (!wxEntryStart(argc, argv) || !wxTheApp || !wxTheApp->CallOnInit()) {
    fprintf(stderr, "cannot start the window system (is DISPLAY set? run under xvfb-run)\n");
    return 1;
  }
  wxInitAllImageHandlers();
  const int result = RUN_ALL_TESTS();
  wxTheApp->OnExit();
  wxEntryCleanup();
  return result;
}
