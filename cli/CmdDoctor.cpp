// edogtool doctor: what an update needs, checked in the order a user meets it, each with OK
// or its fix (device/Doctor.h; the window's 诊断... shows the same text).
#include <cstdio>

#include "cli/Args.h"
#include "cli/Command.h"
#include "cli/SharedOptions.h"
#include "cli/UsbSend.h"
#include "common/Files.h"
#include "device/UsbConfig.h"
#include "device/DeviceLibraryChoice.h"
#include "device/Doctor.h"
#include "tools/VoiceGeneration.h"

namespace edog::cli {
namespace {

int Doctor(int argc, char** argv) {
  std::string package;
  DeviceOptions device;
  Args args("edogtool doctor [--device usb|sim] [--package PATH]",
            "Checks what an update needs, in the order you meet it, and prints for each check\n"
            "OK with what was found, or FIX with the one thing to do: the device library (found,\n"
            "loadable, of this program's word size, with open_dev and open_file); the voice\n"
            "encoder library and its Encoder; the update package, where it was found and why it\n"
            "is used or refused; the device (with a real device on Linux first its configured\n"
            "ids, that it is attached, its udev rule, the permissions of its device node and any\n"
            "kernel driver on its interface); each serial port and your access to it; the temp\n"
            "folder; on Windows the code page the closed libraries get paths in.\n"
            "Exit 0 when every check passes, 1 otherwise.");
  args.Option("--package", &package, "PATH", "the update package to check (default: the one update would use)");
  AddDeviceOption(args, &device);
  args.Epilog(UsbLibraryHelpText());
  if (auto r = args.Parse(argc, argv); r != Args::kOk) return Args::ExitCode(r);
  if (device.detachDriver) SetEnvironmentValue(kUsbDetachEnv, "1");
  DoctorInputs inputs;
  const DeviceLibraryChoice choice = ChooseDeviceLibrary(device.device);
  inputs.deviceLibrary = choice.library;
  inputs.deviceChoiceError = choice.error;
  inputs.encoderLibrary = kVoiceEncoderLibrary;
  inputs.encoderExport = kVoiceEncoderExport;
  inputs.packagePlaces = PackagePlacesHere(package);
  const std::vector<DoctorCheck> checks = RunDoctor(inputs);
  std::printf("%s", DoctorReport(checks).c_str());
  return DoctorPassed(checks) ? kExitOk : kExitFailed;
}

}  // namespace

EDOG_COMMAND("doctor", "check what an update needs and name the fix for what is missing", Doctor);

}  // namespace edog::cli
