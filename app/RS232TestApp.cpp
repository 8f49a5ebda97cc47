#include "app/RS232TestApp.h"

#include "app/InfoOptions.h"
#include "app/RS232TestDlg.h"

bool CRS232TestApp::OnInit() {
  // The program takes no further arguments, so the base class's command-line parsing is
  // skipped. Returning false here would end the program with status 255: the work is in
  // OnRun.
  return true;
}

int CRS232TestApp::OnRun() {
  // Where main() could not answer them first (Windows).
  if (const auto status = edog::AnswerInfoOptions(argc, argv, stdout)) return *status;
  CRS232TestDlg dlg;  // no parent; the program's only top-level window
  SetTopWindow(&dlg);
  dlg.ShowModal();
  SetTopWindow(nullptr);
  // Leaving here destroys the window, which first waits for a transfer cancelled with Esc
  // that is still finishing its block.
  return 0;
}
