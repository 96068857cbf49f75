// Test suites that need the firmware stand-in: installed once for the test
// program's prefix, each test skipped where it is not built.
#pragma once

#include "common/registry_names.h"
#include "tests/support/test_support.h"

namespace obrin::test {

class FirmwareStandInTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (FirmwareStandInPresent())
            s_install = Firmsim(L"install");
    }
    // A test without the stand-in is skipped, one whose installation failed
    // fails; neither reaches its suite's own preparation.
    void SetUp() final
    {
        if (!FirmwareStandInPresent())
            GTEST_SKIP() << "the firmware stand-in (firmsim.exe, firmwmi.dll) is not built";
        ASSERT_THAT(s_install, Succeeds());
        SetUpWithStandIn();
    }
    // A suite's own preparation, once the stand-in is in place.
    virtual void SetUpWithStandIn() {}

private:
    static inline ProcessResult s_install;
};

// Where the service's tests start: no OBRINSERVICE entry, the firmware
// stand-in reset, the switcher recorder in place of ObrinSwitcher.exe, and
// neither ShowMsg nor CodeName set. Ends with the service removed.
class FirmwareAndRecorderTest : public FirmwareStandInTest {
protected:
    void SetUpWithStandIn() override
    {
        ASSERT_TRUE(RemoveServiceIfPresent());
        ASSERT_THAT(Firmsim(L"reset"), Succeeds());
        ASSERT_TRUE(PlaceSwitcherRecorder());
        DeleteShowMsg();
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, OBRIN_REGISTRY_KEY, OBRIN_CODENAME_VALUE);
    }
    void TearDown() override
    {
        // The stop sequence's unpinning run need not linger.
        SetSwitcherStayAlive(0);
        EXPECT_TRUE(RemoveServiceIfPresent());
    }
};

// Suites that share one running OBRINSERVICE with the firmware stand-in
// (starting it takes seconds under Wine); each test starts with the stand-in
// reset and no ShowMsg (the switcher asks nothing). A suite whose service is to launch the switcher recorder rather than
// the switcher calls StartService(true) from its own SetUpTestSuite.
class RunningServiceTest : public FirmwareStandInTest {
protected:
    static void SetUpTestSuite() { StartService(false); }
    static void TearDownTestSuite() { RemoveServiceIfPresent(); }
    static void StartService(bool switcherRecorder)
    {
        FirmwareStandInTest::SetUpTestSuite();
        s_running = FirmwareStandInPresent() && testing::Value(Firmsim(L"reset"), Succeeds()) &&
                    (!switcherRecorder || PlaceSwitcherRecorder()) && RemoveServiceIfPresent() && InstallService();
    }
    void SetUpWithStandIn() override
    {
        ASSERT_TRUE(s_running) << "ObrinService.exe could not be installed and started";
        ASSERT_THAT(Firmsim(L"reset"), Succeeds());
        DeleteShowMsg();
    }

private:
    static inline bool s_running = false;
};

}  // namespace obrin::test
