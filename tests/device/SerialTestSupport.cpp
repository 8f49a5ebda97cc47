#include "device/SerialTestSupport.h"

#include <sstream>

#include "support/TestSupport.h"

namespace edog::test {

std::vector<uint16_t> PythonCrcs(const std::vector<std::vector<uint8_t>>& records) {
  TempDir dir;
  std::vector<uint8_t> all;
  std::vector<std::string> args = {"-c",
                                   "import binascii,sys\n"
                                   "d=open(sys.argv[1],'rb').read();o=0\n"
                                   "for n in map(int,sys.argv[2:]):\n"
                                   "  print(binascii.crc_hqx(d[o:o+n],0));o+=n\n",
                                   dir / "data"};
  for (const auto& r : records) {
    all.insert(all.end(), r.begin(), r.end());
    args.push_back(std::to_string(r.size()));
  }
  WriteFile(dir / "data", all);
  const ProgramResult py = RunProgram("/usr/bin/python3", args);
  std::vector<uint16_t> crcs;
  if (py.status != 0) return crcs;
  std::istringstream in(py.out);
  unsigned v;
  while (in >> v) crcs.push_back(static_cast<uint16_t>(v));
  return crcs;
}

}  // namespace edog::test
