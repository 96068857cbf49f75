// The process's COM as the programs under test set it up: this thread in the
// multithreaded apartment for the whole run, and process security as
// discovery and the service set it. Register once per test program with
// testing::AddGlobalTestEnvironment.
#pragma once

#include "common/ownership.h"

#include <gtest/gtest.h>
#include <objbase.h>

namespace obrin::test {

class ComEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_EQ(m_com.result(), S_OK);
        ASSERT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY,
                                       RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_SECURE_REFS, nullptr),
                  S_OK);
    }

private:
    obrin::ComInit m_com{COINIT_MULTITHREADED};
};

}  // namespace obrin::test
