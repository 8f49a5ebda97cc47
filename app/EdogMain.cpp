// The program `edog`: the main update window.
#include "app/InfoOptions.h"
#include "app/RS232TestApp.h"

#ifdef __WXMSW__
// Windows enters through wx's WinMain; the application object answers --help there.
wxIMPLEMENT_APP(CRS232TestApp);
#else
wxIMPLEMENT_APP_NO_MAIN(CRS232TestApp);

// --help and --version are answered before GTK starts, so they need no display.
int main(int argc, char** argv) {
  if (const auto status = edog::AnswerInfoOptions(argc, argv, stdout)) return *status;
  return wxEntry(argc, argv);
}
#endif
