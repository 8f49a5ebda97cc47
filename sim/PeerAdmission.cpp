#include "sim/PeerAdmission.h"

#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace edog::sim {

size_t MaxPendingPeers() {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur == RLIM_INFINITY) return kPendingPeersAtMost;
  return std::clamp<size_t>(static_cast<size_t>(r.rlim_cur / 8), 1, kPendingPeersAtMost);
}

Admission AcceptPeer(int listenFd, int flags, int* peer) {
  for (;;) {
    *peer = ::accept4(listenFd, nullptr, nullptr, flags);
    if (*peer >= 0) return Admission::kPeer;
    switch (errno) {
      case EINTR:
      case ECONNABORTED:  // gone before we took it
      case EPROTO:
        continue;
      case EMFILE:
      case ENFILE:
      case ENOBUFS:
      case ENOMEM:
        return Admission::kOutOfDescriptors;
      default:  // EAGAIN, or a listener closed under us
        return Admission::kNoneWaiting;
    }
  }
}

}  // namespace edog::sim
