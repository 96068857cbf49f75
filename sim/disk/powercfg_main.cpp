// Stand-in powercfg.exe: "-h off" and "-h on" switch the hibernation state
// kept in the disk model and are recorded there, in order, for the tests.
#include "sim/disk/disk_driver.h"
#include "sim/disk/disk_files.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

using namespace obrin::disksim;

constexpr int kInvalidParameters = 1;

bool IsHibernateOption(const wchar_t* arg)
{
    return EqualsNoCase(arg, L"-h") || EqualsNoCase(arg, L"/h") || EqualsNoCase(arg, L"-hibernate") ||
           EqualsNoCase(arg, L"/hibernate");
}

int Run(int argc, wchar_t** argv)
{
    if (argc != 3 || !IsHibernateOption(argv[1]) || (!EqualsNoCase(argv[2], L"on") && !EqualsNoCase(argv[2], L"off"))) {
        std::fputs("Invalid Parameters -- this stand-in knows only -h on and -h off.\n", stdout);
        return kInvalidParameters;
    }
    bool on = EqualsNoCase(argv[2], L"on");
    Model model;
    std::string error;
    std::wstring path = ModelFilePath();
    if (!LoadModelOrClearDriver(path, model, error)) {
        std::printf("The disk model could not be read: %s\n", error.c_str());
        return kInvalidParameters;
    }
    model.hibernation = on;
    model.powerLog.push_back(on ? "on" : "off");
    if (!SaveModelFile(path, model)) {
        std::printf("The disk model could not be written (error %lu).\n", GetLastError());
        return kInvalidParameters;
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    try {
        return Run(argc, argv);
    } catch (...) {
        return kInvalidParameters;
    }
}
