// The window tests share one wx application, started before and ended after all tests.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
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
