// The main window's hidden developer buttons: the three content generation tools.
#include "app/RS232TestDlg.h"
#include "tools/ui/HeaderGenDlg.h"
#include "tools/ui/SelImgFiles.h"
#include "tools/ui/SelWavFiles.h"

void CRS232TestDlg::OnKovaDataGeneration() {
  CSelWavFiles dlg(this, voiceGeneration_);
  dlg.ShowModal();
}

void CRS232TestDlg::OnHeaderGeneration() {
  auto* dlg = new CHeaderGenDlg(this);
  dlg->ShowModal();
  dlg->Destroy();
}

void CRS232TestDlg::OnSelectImageFiles() {
  auto* dlg = new CSelImgFiles(this);
  dlg->ShowModal();
  dlg->Destroy();
}
