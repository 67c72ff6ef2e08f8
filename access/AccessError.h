// The two failures of the access layer, reported on one line each.
#pragma once

#include <stdexcept>

namespace vtfmt {

// A file that cannot be opened, read or written, or whose values a target
// cannot keep: the message names the file and the reason.
struct ArrayError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// A bad argument: an unknown driver, an option the driver refuses, an array
// of a type no pixel format holds.
struct ArrayArgumentError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

}  // namespace vtfmt
