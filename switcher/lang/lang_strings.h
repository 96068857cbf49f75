// The switcher's language texts: one process-wide record filled once at
// start-up from the embedded language INI text, read by everything that shows
// text afterwards.
#pragma once

#include <cstdint>

// String slots, in the order of the record's Strings array; each enumerator
// names its key in the language INI text.
enum LangStringSlot : int {
    BTN_TEXT_OK,
    BTN_TEXT_YES,
    BTN_TEXT_NO,
    BTN_TEXT_CANCEL,
    BTN_TEXT_ABORT,
    BTN_TEXT_RETRY,
    BTN_TEXT_IGNORE,
    BTN_TEXT_TRY,
    BTN_TEXT_CONTINUE,
    CFGTOOL_IDS_APP_TITLE,
    CFGTOOL_IDS_ABOUTBOX,
    CFGTOOL_IDS_INSTALL_WITH_LEGACY,
    CFGTOOL_IDS_ENABLE_WITH_LEGACY,
    CFGTOOL_IDS_SWITCH_WITH_LEGACY,
    CFGTOOL_IDS_ERR_INVALID_PARAM,
    CFGTOOL_IDS_ERR_ACCESS_WMI,
    CFGTOOL_IDS_ERR_LEGACY_ENABLED,
    CFGTOOL_IDS_ERR_ACCESS_SERVICE,
    CFGTOOL_IDS_ERR_ACCESS_PARTITION,
    CFGTOOL_IDS_ERR_SHRINK_PARTITION,
    CFGTOOL_IDS_ERR_EXTEND_PARTITION,
    CFGTOOL_IDS_ERR_COPY_DELETE_FILE,
    CFGTOOL_IDS_ERR_UNZIP_ANDROID_IMG,
    CFGTOOL_IDS_ERR_ACCESS_WIN_REG,
    CFGTOOL_IDS_ERR_ANDROID_NOT_FOUND,
    CFGTOOL_IDS_ERR_GENERAL,
    CFGTOOL_IDS_SWITCH_ENABLE,
    CFGTOOL_IDS_SWITCH_DISABLE,
    OSSWITCHER_IDS_APP_TITLE,
    OSSWITCHER_IDS_SWITCH_JUMP_LIST,
    OSSWITCHER_IDS_SWITCH_WITH_LEGACY,
    OSSWITCHER_IDS_SWITCH_REBOOT,
    OSSWITCHER_IDS_SWITCH_CONTINUE,
    OSSWITCHER_IDS_SWITCH_FEATURE_NOT_READY,
    WIXCA_IDS_REBOOT,
    WIXCA_IDS_CONTINUE,
    LANG_STRING_COUNT
};

constexpr int LANG_SUPPORTED_MAX = 32;

struct LangStrings {
    uint32_t Found;                                 // 1 once a base section for the chosen language was found
    uint16_t LanguageIdentifier;                    // "LanguageIdentifier" of [GENERAL], 0 when empty
    uint32_t SupportedLanguages[LANG_SUPPORTED_MAX];  // "LanguageSupportsList" of [GENERAL], unused entries 0
    uint32_t SilenceMode;                           // [INSTALLATION] "SilenceMode" non-zero
    uint32_t RebootAfterInstallation;               // [INSTALLATION] "RebootAfterInstallation" non-zero
    wchar_t* Strings[LANG_STRING_COUNT];            // null where a text was not loaded
};

// Zero-filled before any code runs; LoadLanguageStrings (lang_loader.h) fills
// it once.
inline LangStrings g_LangStrings = {};

// The INI key of each slot, e.g. "BTN_TEXT_OK" for BTN_TEXT_OK.
inline constexpr const char* g_LangStringKeys[LANG_STRING_COUNT] = {
    "BTN_TEXT_OK",
    "BTN_TEXT_YES",
    "BTN_TEXT_NO",
    "BTN_TEXT_CANCEL",
    "BTN_TEXT_ABORT",
    "BTN_TEXT_RETRY",
    "BTN_TEXT_IGNORE",
    "BTN_TEXT_TRY",
    "BTN_TEXT_CONTINUE",
    "CFGTOOL_IDS_APP_TITLE",
    "CFGTOOL_IDS_ABOUTBOX",
    "CFGTOOL_IDS_INSTALL_WITH_LEGACY",
    "CFGTOOL_IDS_ENABLE_WITH_LEGACY",
    "CFGTOOL_IDS_SWITCH_WITH_LEGACY",
    "CFGTOOL_IDS_ERR_INVALID_PARAM",
    "CFGTOOL_IDS_ERR_ACCESS_WMI",
    "CFGTOOL_IDS_ERR_LEGACY_ENABLED",
    "CFGTOOL_IDS_ERR_ACCESS_SERVICE",
    "CFGTOOL_IDS_ERR_ACCESS_PARTITION",
    "CFGTOOL_IDS_ERR_SHRINK_PARTITION",
    "CFGTOOL_IDS_ERR_EXTEND_PARTITION",
    "CFGTOOL_IDS_ERR_COPY_DELETE_FILE",
    "CFGTOOL_IDS_ERR_UNZIP_ANDROID_IMG",
    "CFGTOOL_IDS_ERR_ACCESS_WIN_REG",
    "CFGTOOL_IDS_ERR_ANDROID_NOT_FOUND",
    "CFGTOOL_IDS_ERR_GENERAL",
    "CFGTOOL_IDS_SWITCH_ENABLE",
    "CFGTOOL_IDS_SWITCH_DISABLE",
    "OSSWITCHER_IDS_APP_TITLE",
    "OSSWITCHER_IDS_SWITCH_JUMP_LIST",
    "OSSWITCHER_IDS_SWITCH_WITH_LEGACY",
    "OSSWITCHER_IDS_SWITCH_REBOOT",
    "OSSWITCHER_IDS_SWITCH_CONTINUE",
    "OSSWITCHER_IDS_SWITCH_FEATURE_NOT_READY",
    "WIXCA_IDS_REBOOT",
    "WIXCA_IDS_CONTINUE",
};
