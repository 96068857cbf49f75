// The language INI text compiled into the switcher, one zero-terminated string.
#pragma once

extern const char g_LanguageIniText[];
