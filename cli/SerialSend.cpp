#include "cli/SerialSend.h"

#include "cli/Args.h"

namespace edog::cli {

bool ParseBaud(const std::string& text, uint32_t& baud) {
  return ParseUnsigned(text, baud) && (baud == 115200 || baud == 57600);
}

bool ConnectSerial(CComm& comm, const std::string& port, uint32_t baud, const char* command) {
  comm.SetParams(port, baud, 8, kOneStopBit, kNoParity);
  if (!comm.CreateEvents() || !comm.Open()) {
    std::fprintf(stderr, "edogtool %s: %s: Fail connect!\n", command, port.c_str());
    if (!comm.ReaderStartError().empty())
      std::fprintf(stderr, "edogtool %s: %s\n", command, comm.ReaderStartError().c_str());
    if (!comm.OpenFailure().empty())
      std::fprintf(stderr, "edogtool %s: %s\n", command, comm.OpenFailure().c_str());
    return false;
  }
  return true;
}

}  // namespace edog::cli
