#include "tests/support/disk_support.h"

#include "sim/disk/disk_files.h"

#include <gtest/gtest.h>

namespace obrin::test {

disksim::Model LoadModel(std::source_location caller)
{
    disksim::Model model;
    std::string error;
    const testing::ScopedTrace trace(caller.file_name(), static_cast<int>(caller.line()), "LoadModel");
    EXPECT_TRUE(disksim::LoadModelFile(disksim::ModelFilePath(), model, error)) << error;
    return model;
}

}  // namespace obrin::test
