#include "app/RS232TestApp.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/RS232TestDlg.h"
#include "app/WindowProgramOptions.h"
#include "device/DeviceLibraryChoice.h"
#include "widgets/WxText.h"

bool CRS232TestApp::OnInit() {
  // The options are read in OnRun, so the base class's command-line parsing is skipped.
  // Returning false here would end the program with status 255: the work is in OnRun.
  return true;
}

int CRS232TestApp::OnRun() {
  // wx hands the arguments over as wide text on Windows: the paths go on as UTF-8.
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(ToU8(argv[i]));
  std::vector<const char*> pointers;
  for (const std::string& a : args) pointers.push_back(a.c_str());
  const edog::WindowProgramOptions parsed =
      edog::ParseWindowProgramOptions(static_cast<int>(pointers.size()), pointers.data());
  if (parsed.action != edog::WindowProgramOptions::kRun) return edog::AnswerWithoutWindow(parsed);
  const edog::DeviceLibraryChoice choice = edog::ChooseDeviceLibrary(parsed.device);
  if (!choice.error.empty()) {
    std::fprintf(stderr, "edog: %s\n", choice.error.c_str());
    return 2;
  }
  if (!choice.notice.empty()) std::fprintf(stderr, "edog: %s\n", choice.notice.c_str());
  MainWindowOptions options;
  options.packagePath = parsed.packagePath;
  options.usbLibrary = choice.library;
  CRS232TestDlg dlg(nullptr, options);  // no parent; the program's only top-level window
  SetTopWindow(&dlg);
  dlg.ShowModal();
  SetTopWindow(nullptr);
  // Leaving here destroys the window, which first waits for a transfer cancelled with Esc
  // that is still finishing its block.
  return 0;
}
