// The disk stand-in's model as the tests read it back after a run.
#pragma once

#include "sim/disk/disk_model.h"

#include <source_location>

namespace obrin::test {

// The model file as disksim, diskpart and the driver left it; a file that
// cannot be read fails the caller.
[[nodiscard]] disksim::Model LoadModel(std::source_location caller = std::source_location::current());

}  // namespace obrin::test
