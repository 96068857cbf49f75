// The installer's exit codes and modes: what its caller reads back.
#pragma once

enum InstallerResult : int {
    INSTALLER_RET_SUCCESS = 0,
    INSTALLER_RET_NO_OPTION = 2,
    INSTALLER_RET_DISK_INFO_FAIL = 3,
    INSTALLER_RET_FIRMWARE_REFUSED = 4,
    INSTALLER_RET_CREATE_SERVICE_FAIL = 5,
    INSTALLER_RET_START_SERVICE_FAIL = 6,
    INSTALLER_RET_STOP_SERVICE_FAIL = 7,
    INSTALLER_RET_DELETE_SERVICE_FAIL = 8,
    INSTALLER_RET_INIT_PARTITION_FAIL = 9,
    INSTALLER_RET_DELETE_PARTITION_FAIL = 10,
    INSTALLER_RET_SET_PARTITION_FAIL = 11,
    INSTALLER_RET_SHRINK_PARTITION_FAIL = 12,
    INSTALLER_RET_EXTEND_PARTITION_FAIL = 13,
    INSTALLER_RET_COPY_FILES_FAIL = 14,
    INSTALLER_RET_REMOVE_FILES_FAIL = 15,
    INSTALLER_RET_NOT_INSTALLED = 19,
    // Install, uninstall, check: another of these runs is working on the disk.
    INSTALLER_RET_ALREADY_RUNNING = 20,
};

enum class InstallerMode : int {
    None = -1,
    Install = 0,
    Uninstall = 1,
    ServiceStart = 2,
    ServiceRemove = 3,
    Check = 4,
};
