#pragma once
// How the simulator's doors (the local socket, the TCP bridge) let peers in without being
// held open by them. A peer that has not yet said who it is ("OPEN ...", the token) is
// pending: it gets a short wait, and only so many pending peers are kept (the oldest one
// makes room for a newcomer, who may be the owner). When the process runs out of
// descriptors, accept fails at once while the peer stays queued, so polling the listener
// again would spin: the door then frees a pending peer's descriptor or stays shut for a
// moment.
#include <cstddef>
#include <cstdint>

namespace edog::sim {

// A connecting peer sends its first message at once; this is the longest it is waited for.
constexpr int64_t kPendingPeerWaitUs = 2'000'000;
// Pending peers kept per door at most, far below the usual 1024 descriptors.
constexpr size_t kPendingPeersAtMost = 64;
// How long a door out of descriptors leaves its listener alone.
constexpr int64_t kAcceptPauseUs = 100'000;
// Peers accepted in one go before the pending ones are read again.
constexpr int kAcceptsPerWake = 16;
// Each door's listen queue: deep, so that a burst of connections waits there to be taken
// and dropped rather than turning the owner's connect away (the kernel caps it at
// net.core.somaxconn).
constexpr int kListenBacklog = 4096;

// Pending peers a door keeps: kPendingPeersAtMost, or an eighth of the process's descriptor
// limit when that is less, so that both doors' pending peers leave most descriptors to
// the owner's connections and the device's files.
size_t MaxPendingPeers();

enum class Admission { kPeer, kNoneWaiting, kOutOfDescriptors };

// One accept4 on the non-blocking listener: the peer's descriptor in `peer`, or why none
// came. Peers that left while queued are skipped.
Admission AcceptPeer(int listenFd, int flags, int* peer);

}  // namespace edog::sim
