// The installer's entry and its five flows.
#pragma once

#include "installer/disk_info.h"
#include "installer/installer_codes.h"
#include "installer/installer_paths.h"
#include "installer/run_record.h"

// record: the run's record, kept in step with its registry copy.
// unfinished: the flow left work on the disk that the next run completes
// (a rollback or a removal that did not get through).
[[nodiscard]] int DoInstall(const InstallerPaths& paths, RunRecord& record, bool& unfinished) noexcept;
[[nodiscard]] int DoUninstall(RunRecord& record, bool& unfinished) noexcept;
[[nodiscard]] int DoStartService(const InstallerPaths& paths) noexcept;
[[nodiscard]] int DoRemoveService() noexcept;
[[nodiscard]] int DoCheck() noexcept;

// The whole run: paths, command line, flow; returns the exit code.
[[nodiscard]] int RunInstaller() noexcept;
