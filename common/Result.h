#pragma once
// How a core operation ended: a status of the operation's own enum, whose zero value is
// success, and the text a front end shows the user for that ending (empty when there is
// nothing to say). The window puts the text in a message box, edogtool on a line.
#include <string>

namespace edog {

template <typename Status>
struct Result {
  Status status{};
  std::string message;

  bool Ok() const { return status == Status{}; }
};

}  // namespace edog
