#include "common/log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ReadLogFile()
{
    std::ifstream in(GetLog().Path(), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

TEST(Log, LineHasPrefixAndCrLf)
{
    DeleteFileW(GetLog().Path());
    GetLog().Print(LOG_INFO, "SetPowerState", 439, L"Launch(%s)\n", L"x");
    const std::string text = ReadLogFile();
    const std::string expected = std::string("[") + __DATE__ + " " + __TIME__;
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.find("] [INFO][SetPowerState():439] Launch(x)\r\n"), std::string::npos) << text;
}

}  // namespace
