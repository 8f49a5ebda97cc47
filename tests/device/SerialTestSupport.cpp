#include "device/SerialTestSupport.h"

#include <chrono>
#include <sstream>
#include <thread>

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

#ifndef _WIN32
PeerResult PlayLoader(const PtyPair& pty, const LoaderScript& script) {
  const size_t silentAfter = script.silentAfter;
  PeerResult r;
  r.command = pty.Receive(8);
  if (r.command != std::vector<uint8_t>{'u', 'p', 'g', 'r', 'a', 'd', 'e', '\r'}) {
    r.problem = "no upgrade command";
    return r;
  }
  if (script.startDelayMs > 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(script.startDelayMs));
  pty.Send("C");
  // A silent loader ends its own wait soon after the download has given up.
  const int idleMs = silentAfter == SIZE_MAX ? 3000 : 500;
  for (;;) {
    const auto first = pty.Receive(1, idleMs);
    if (first.empty()) {
      r.problem = "line went quiet";
      return r;
    }
    if (first[0] == 0x04) {
      r.tail = {0x04};
      const auto rest = pty.Receive(2);
      r.tail.insert(r.tail.end(), rest.begin(), rest.end());
      if (!script.hello.empty()) pty.Send(script.hello);
      return r;
    }
    auto rest = pty.Receive(1028);
    std::vector<uint8_t> block = first;
    block.insert(block.end(), rest.begin(), rest.end());
    if (block.size() != 1029 || block[0] != 0x02 || (block[1] ^ block[2]) != 0xFF ||
        BitwiseCrc16(&block[3], 1024) != (block[1027] << 8 | block[1028])) {
      r.problem = "bad block " + std::to_string(r.blocks.size());
      return r;
    }
    r.blocks.push_back(block);
    if (r.blocks.size() > silentAfter) continue;
    const bool refused = script.refuse && script.refuse(r.blocks.size() - 1);
    if (!refused) r.accepted.push_back(block);
    const uint8_t answer = refused ? 0x15 : 0x06;
    if (!script.beforeAnswer.empty()) pty.Send(script.beforeAnswer);
    pty.Send(&answer, 1);
  }
}
#endif

}  // namespace edog::test
