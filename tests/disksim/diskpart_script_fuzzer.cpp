// Any script against any model: the interpreter neither crashes nor leaves a
// model that no longer reads back.
#include "sim/disk/diskpart_engine.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using namespace obrin::disksim;

class NullEffects final : public DiskEffects {
public:
    bool LetterTakenOutside(char letter) override { return letter == 'Z'; }
    bool DefineDrive(char, const std::string&) override { return true; }
    bool RemoveDrive(char) override { return true; }
    bool EmptyFolder(const std::string&) override { return true; }
    bool RemoveFolder(const std::string&) override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    // The first byte picks the machine and the numbering rule, the rest is
    // the script.
    std::vector<std::string_view> names = MachineVariantNames();
    const size_t pick = input.empty() ? 0 : static_cast<uint8_t>(input[0]);
    std::optional<Model> model = MachineVariant(names[pick % names.size()]);
    model->numbering = (pick / names.size()) % 2 == 0 ? NumberingRule::DiskOrder : NumberingRule::Stable;
    for (Disk& disk : model->disks)
        ApplyNumbering(disk, model->numbering);
    if (!input.empty())
        input.remove_prefix(1);
    NullEffects effects;
    DiskpartResult result = RunDiskpartScript(*model, input, effects);
    if (result.exitCode < 0 || result.exitCode > 5)
        std::abort();
    Model reread;
    std::string error;
    if (!ParseModel(FormatModel(*model), reread, error))
        std::abort();
    // The model parser gets the raw bytes too.
    Model parsed;
    (void)ParseModel(input, parsed, error);
    return 0;
}
