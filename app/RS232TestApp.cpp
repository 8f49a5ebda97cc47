#include "app/RS232TestApp.h"

#include <cstdio>

#include "app/RS232TestDlg.h"
#include "device/DeviceLibraryChoice.h"

bool CRS232TestApp::OnInit() {
  // The only option is the device library (--device usb|sim), read here rather than by the
  // base class's parser. Returning false here would end the program with status 255: the
  // work is in OnRun.
  std::string device;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i].utf8_string();
    if (a == "--help" || a == "-h") {
      std::printf("Usage: edog [--device usb|sim]\n\nThe update window. --device chooses the "
                  "device library: 'usb' a real device over libusb, 'sim' the simulator's "
                  "stand-in (default: $EDOG_DEVICE_LIBRARY, else usb when a USB device is "
                  "configured).\n");
      exitCode_ = 0;
      return true;
    }
    if (a == "--device" && i + 1 < argc) {
      device = argv[++i].utf8_string();
    } else if (a.rfind("--device=", 0) == 0) {
      device = a.substr(9);
    } else {
      std::fprintf(stderr, "edog: unknown argument '%s'; try 'edog --help'\n", a.c_str());
      exitCode_ = 2;
      return true;
    }
  }
  const edog::DeviceLibraryChoice choice = edog::ChooseDeviceLibrary(device);
  if (!choice.error.empty()) {
    std::fprintf(stderr, "edog: %s\n", choice.error.c_str());
    exitCode_ = 2;
    return true;
  }
  usbLibrary_ = choice.library;
  return true;
}

int CRS232TestApp::OnRun() {
  if (exitCode_ >= 0) return exitCode_;
  MainWindowOptions options;
  options.usbLibrary = usbLibrary_;
  CRS232TestDlg dlg(nullptr, std::move(options));  // no parent; the program's only top-level window
  SetTopWindow(&dlg);
  dlg.ShowModal();
  SetTopWindow(nullptr);
  // Leaving here destroys the window, which first waits for a transfer cancelled with Esc
  // that is still finishing its block.
  return 0;
}
