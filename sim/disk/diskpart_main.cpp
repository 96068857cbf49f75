// Stand-in diskpart.exe: "diskpart /s FILE" runs the script against the disk
// model of the prefix and exits with diskpart's exit code.
#include "sim/disk/disk_driver.h"
#include "sim/disk/disk_files.h"
#include "sim/disk/diskpart_engine.h"

#include "common/ownership.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

using namespace obrin::disksim;

bool ReadScript(const wchar_t* path, std::string& text)
{
    obrin::UniqueFileHandle file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0)
        text.append(chunk, read);
    return true;
}

int Run(int argc, wchar_t** argv)
{
    const wchar_t* scriptPath = nullptr;
    for (int i = 1; i + 1 < argc; ++i)
        if (EqualsNoCase(argv[i], L"/s") || EqualsNoCase(argv[i], L"-s"))
            scriptPath = argv[i + 1];
    if (!scriptPath) {
        std::fputs("usage: diskpart /s SCRIPT (this stand-in runs scripts only)\n", stdout);
        return kDiskpartBadArguments;
    }
    std::string script;
    if (!ReadScript(scriptPath, script)) {
        std::printf("DiskPart was unable to open the script file (error %lu).\n", GetLastError());
        return kDiskpartScriptUnreadable;
    }
    Model model;
    std::string error;
    std::wstring modelPath = ModelFilePath();
    if (!LoadModelOrClearDriver(modelPath, model, error)) {
        std::printf("The disk model could not be read: %s\n", error.c_str());
        return kDiskpartFatal;
    }
    PrefixEffects effects;
    DiskpartResult result = RunDiskpartScript(model, script, effects);
    std::fputs(result.output.c_str(), stdout);
    if (!SaveModelFile(modelPath, model)) {
        std::printf("The disk model could not be written (error %lu).\n", GetLastError());
        return kDiskpartFatal;
    }
    return result.exitCode;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    try {
        return Run(argc, argv);
    } catch (...) {
        return kDiskpartFatal;
    }
}
