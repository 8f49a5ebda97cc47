#pragma once
// The application object: runs the main window modally and ends the program with it.
#include <wx/app.h>

#include <string>

class CRS232TestApp : public wxApp {
 public:
  bool OnInit() override;
  int OnRun() override;

 private:
  std::string usbLibrary_;  // the device library chosen with --device or the environment
  int exitCode_ = -1;       // set when the command line already decided the outcome
};
