// A test suite that needs the firmware stand-in: installed once for the test
// program's prefix, each test skipped where it is not built.
#pragma once

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace obrin::test {

class FirmwareStandInTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (FirmwareStandInPresent())
            s_firmwareInstalled = Firmsim(L"install");
    }
    // A derived SetUp calls this first and returns when the test is skipped
    // or has failed (IsSkipped() || HasFatalFailure()).
    void SetUp() override
    {
        if (!FirmwareStandInPresent())
            GTEST_SKIP() << "the firmware stand-in (firmsim.exe, firmwmi.dll) is not built";
        ASSERT_TRUE(s_firmwareInstalled) << "firmsim install failed";
    }

private:
    static inline bool s_firmwareInstalled = false;
};

}  // namespace obrin::test
