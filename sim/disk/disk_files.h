// The disk stand-in's Windows edge: where the model file lives in the prefix,
// reading and writing it, and what diskpart's commands do to the prefix
// (drive letters through Wine's mount manager, partition folders).
#pragma once

#include "sim/disk/disk_model.h"
#include "sim/disk/diskpart_engine.h"

#include <string>

namespace obrin::disksim {

// C:\disksim\model.txt, or the path in the environment variable
// OBRIN_DISKSIM_MODEL.
[[nodiscard]] std::wstring ModelFilePath();

[[nodiscard]] bool LoadModelFile(const std::wstring& path, Model& model, std::string& error) noexcept;
// Writes a new file beside the old one and moves it over, so a reader never
// sees half a model. False with the last error set when that fails.
// SaveModelFile (disk_driver.h) also hands the model to the disk driver.
[[nodiscard]] bool WriteModelFile(const std::wstring& path, const Model& model) noexcept;
// Writes `path` that way: a new file beside it, moved over it.
[[nodiscard]] bool ReplaceFileWith(const std::wstring& path, const void* data, size_t size) noexcept;

[[nodiscard]] std::wstring Widen(const std::string& utf8);
[[nodiscard]] std::string Narrow(const std::wstring& wide);

// Under Wine: defines `letter` as a drive whose root is `folder` (a link in
// the prefix's dosdevices, made by the mount manager), usable at once by every
// running process. RemoveDriveLetter undoes it.
[[nodiscard]] bool DefineDriveLetter(char letter, const std::wstring& folder) noexcept;
[[nodiscard]] bool RemoveDriveLetter(char letter) noexcept;

// Folder work for partitions; refuses every folder outside C:\disksim\ so
// that no model can make it touch the Windows partition's files.
[[nodiscard]] bool EmptyPartitionFolder(const std::wstring& folder) noexcept;
[[nodiscard]] bool RemovePartitionFolder(const std::wstring& folder) noexcept;

// DiskEffects on the running prefix.
class PrefixEffects final : public DiskEffects {
public:
    [[nodiscard]] bool LetterTakenOutside(char letter) override;
    [[nodiscard]] bool DefineDrive(char letter, const std::string& folder) override;
    [[nodiscard]] bool RemoveDrive(char letter) override;
    [[nodiscard]] bool EmptyFolder(const std::string& folder) override;
    [[nodiscard]] bool RemoveFolder(const std::string& folder) override;
};

}  // namespace obrin::disksim
