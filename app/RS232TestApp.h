#pragma once
// The application object: runs the main window modally and ends the program with it.
#include <wx/app.h>

class CRS232TestApp : public wxApp {
 public:
  bool OnInit() override;
  int OnRun() override;
};
