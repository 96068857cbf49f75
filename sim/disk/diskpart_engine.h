// The stand-in diskpart's script interpreter: runs a "/s" script against the
// disk model with diskpart's documented meaning and exit codes. What the
// commands do to the Wine prefix (drive letters, partition folders) goes
// through DiskEffects, so the interpreter itself stays free of <windows.h>.
#pragma once

#include "sim/disk/disk_model.h"

#include <string>
#include <string_view>

namespace obrin::disksim {

// diskpart's documented exit codes.
enum DiskpartExit : int {
    kDiskpartOk = 0,               // the entire script ran without failure
    kDiskpartFatal = 1,            // a fatal exception occurred
    kDiskpartBadArguments = 2,     // the command line's parameters were incorrect
    kDiskpartScriptUnreadable = 3, // the script or output file could not be opened
    kDiskpartServiceFailure = 4,   // one of the services diskpart uses returned a failure
    kDiskpartSyntaxError = 5,      // syntax error, or an object improperly selected / invalid for the command
};

// What a command does outside the model. Each call returns false on failure;
// the command then fails as a service failure and the model is left as it was
// before the command.
class DiskEffects {
public:
    virtual ~DiskEffects() = default;
    // Whether the letter is taken by a drive the model does not know (the
    // prefix's own drives).
    [[nodiscard]] virtual bool LetterTakenOutside(char letter) = 0;
    // Makes `letter` a drive whose root is `folder`, at once for every process.
    [[nodiscard]] virtual bool DefineDrive(char letter, const std::string& folder) = 0;
    [[nodiscard]] virtual bool RemoveDrive(char letter) = 0;
    // Leaves `folder` existing and empty (a new or formatted partition).
    [[nodiscard]] virtual bool EmptyFolder(const std::string& folder) = 0;
    // Removes `folder` and everything in it (a deleted partition).
    [[nodiscard]] virtual bool RemoveFolder(const std::string& folder) = 0;
};

struct DiskpartResult {
    int exitCode = kDiskpartOk;
    std::string output;  // what diskpart prints, one message per line
};

// Runs the script's lines in order against `model` (changed in place, also
// when a later command fails: what ran has happened). Injected failures in the
// model are counted down and consumed here.
// Out of memory ends the run with kDiskpartFatal.
[[nodiscard]] DiskpartResult RunDiskpartScript(Model& model, std::string_view script, DiskEffects& effects) noexcept;

}  // namespace obrin::disksim
