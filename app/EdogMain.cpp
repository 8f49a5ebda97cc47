// The program `edog`: the main update window.
#include "app/RS232TestApp.h"
#include "app/WindowProgramOptions.h"

#ifdef __WXMSW__
// Windows enters through wx's WinMain; the application object reads the options there.
wxIMPLEMENT_APP(CRS232TestApp);
#else
wxIMPLEMENT_APP_NO_MAIN(CRS232TestApp);

// --help, --version and a usage error are answered before GTK starts: no display needed.
int main(int argc, char** argv) {
  const edog::WindowProgramOptions options = edog::ParseWindowProgramOptions(argc, argv);
  if (options.action != edog::WindowProgramOptions::kRun) return edog::AnswerWithoutWindow(options);
  return wxEntry(argc, argv);
}
#endif
