#pragma once
// The device's end of the local socket: listens on the path, deciding by what already
// stands there. Nothing: the socket is made (mode 0600, in the private per-user folder
// when the path rule put it there). A stale socket of the user's own (a simulator that
// died): replaced. A live one: refused, another device answers there. Anything else, or a
// socket of another user: refused with the path and what to do, and never removed, so
// `--socket FILE` cannot delete a file. On closing, the socket file is removed only while
// it is still the one this listener made.
#include <sys/types.h>

#include <string>

#include "common/UniqueFd.h"

namespace edog::sim {

class SocketListener {
 public:
  SocketListener() = default;
  ~SocketListener() { Close(); }
  SocketListener(const SocketListener&) = delete;
  SocketListener& operator=(const SocketListener&) = delete;

  // The listening socket (non-blocking), or -1 with the reason in `error`.
  int Listen(const std::string& path, std::string* error);
  void Close();

 private:
  UniqueFd fd_;
  std::string path_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

}  // namespace edog::sim
