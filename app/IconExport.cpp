// edog-icon-export: writes the application icon as PNG files for the desktop menu entry,
// the same picture the window draws in code.
//   xvfb-run -a build/bin/edog-icon-export packaging/icons     (16, 32, 48 and 128 pixels)
#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>

namespace {
class IconExportApp : public wxApp {
  bool OnInit() override { return true; }
};
}  // namespace
wxIMPLEMENT_APP_NO_MAIN(IconExportApp);

#include <cstdio>

#include "app/Resources.h"
#include "widgets/WxText.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: edog-icon-export FOLDER\n");
    return 2;
  }
  if (!wxEntryStart(argc, argv)) {
    std::fprintf(stderr, "edog-icon-export: wxWidgets did not start (no display?)\n");
    return 1;
  }
  wxImage::AddHandler(new wxPNGHandler);
  for (int size : {16, 32, 48, 128}) {
    const wxString path = U8(argv[1]) + wxString::Format("/edog-%d.png", size);
    if (!PaintAppIcon(size).ConvertToImage().SaveFile(path, wxBITMAP_TYPE_PNG)) {
      std::fprintf(stderr, "edog-icon-export: cannot write %s\n", ToU8(path).c_str());
      return 1;
    }
  }
  wxEntryCleanup();
  return 0;
}
