#include "switcher/lang/lang_loader.h"

#include "switcher/lang/lang_choice.h"
#include "switcher/lang/language_ini.h"

#include <windows.h>

namespace {

constexpr int kMaxTextBytes = 2048;

// Strings that do not convert, or would take more than 2048 bytes, keep what
// their slot held: the base text when a customized one is unusable.
void LoadSectionStrings(IniParser* parser, BaseLibContext* library, int32_t sectionId, LangStrings& record) noexcept
{
    const BaseLibHandle handle = BaseLib_Handle(library);
    char value[INI_LINE_SIZE];
    for (int slot = 0; slot < LANG_STRING_COUNT; ++slot) {
        if (!ReadIniValue(parser, sectionId, g_LangStringKeys[slot], value))
            continue;
        const int characters = MultiByteToWideChar(CP_UTF8, 0, value, -1, nullptr, 0);
        if (characters <= 0 || characters * static_cast<int>(sizeof(wchar_t)) > kMaxTextBytes)
            continue;
        wchar_t converted[kMaxTextBytes / sizeof(wchar_t)] = {};
        if (MultiByteToWideChar(CP_UTF8, 0, value, -1, converted, characters) != characters)
            continue;
        const size_t bytes = static_cast<size_t>(characters) * sizeof(wchar_t);
        auto* text = static_cast<wchar_t*>(library->Ops.MmAllocMem(handle, bytes));
        if (!text)
            continue;
        library->Ops.MmCopyMem(handle, text, converted, bytes);
        record.Strings[slot] = text;
    }
}

// The process-wide support library and parser: set up before the program's
// entry, torn down in reverse order at exit. The strings loaded through them
// are plain allocations and stay: readers keep pointers to them until exit.
class LanguageRuntime {
public:
    LanguageRuntime() noexcept
    {
        if (BaseLib_Initialize(&m_library))
            m_parserReady = IniParser_Initialize(&m_parser) != 0;
    }
    ~LanguageRuntime()
    {
        IniParser_Uninitialize(&m_parser);
        BaseLib_Uninitialize(&m_library);
    }
    LanguageRuntime(const LanguageRuntime&) = delete;
    LanguageRuntime& operator=(const LanguageRuntime&) = delete;

    void Load(uint32_t systemDefaultLcid) noexcept
    {
        if (m_parserReady)
            LoadLanguageStringsFrom(&m_parser, &m_library, g_LanguageIniText, systemDefaultLcid, g_LangStrings);
    }

private:
    BaseLibContext m_library{};
    IniParser m_parser{};
    bool m_parserReady = false;
};

LanguageRuntime g_languageRuntime;

}  // namespace

void LoadLanguageStringsFrom(IniParser* parser, BaseLibContext* library, const char* iniText,
                             uint32_t systemDefaultLcid, LangStrings& record) noexcept
{
    if (!parser || !parser->Initialized || !library || !library->Initialized)
        return;
    // The switcher has no language file of its own: the embedded text is all there is.
    if (!parser->Ops.ParseText(IniParser_Handle(parser), iniText) && !record.Found)
        return;

    const LanguageSections sections = ReadLanguageSettings(parser, library, systemDefaultLcid, record);
    if (sections.BaseId == LANG_NO_SECTION)
        return;
    LoadSectionStrings(parser, library, sections.BaseId, record);
    if (sections.CustomizedId != LANG_NO_SECTION)
        LoadSectionStrings(parser, library, sections.CustomizedId, record);
}

void LoadLanguageStrings(uint32_t systemDefaultLcid) noexcept
{
    g_languageRuntime.Load(systemDefaultLcid);
}
