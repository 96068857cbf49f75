// The language strings as the switcher loads them (UTF-8 to UTF-16 through
// the Win32 conversion) and the string table it carries.
#include "switcher/lang/lang_loader.h"
#include "switcher/lang/language_ini.h"
#include "switcher/lang/string_ids.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

class LanguageLoadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(1, BaseLib_Initialize(&m_library));
        ASSERT_EQ(1, IniParser_Initialize(&m_parser));
    }
    void TearDown() override
    {
        for (wchar_t* text : m_record.Strings)
            m_library.Ops.MmFreeMem(BaseLib_Handle(&m_library), text);
        IniParser_Uninitialize(&m_parser);
        BaseLib_Uninitialize(&m_library);
    }

    void Load(uint32_t lcid, const char* text = g_LanguageIniText)
    {
        LoadLanguageStringsFrom(&m_parser, &m_library, text, lcid, m_record);
    }

    std::wstring Text(LangStringSlot slot) const
    {
        return m_record.Strings[slot] ? m_record.Strings[slot] : L"<null>";
    }

    BaseLibContext m_library{};
    IniParser m_parser{};
    LangStrings m_record{};
};

TEST_F(LanguageLoadTest, SimplifiedChineseWithItsCustomizedContinueText)
{
    Load(0x0804);
    EXPECT_EQ(1u, m_record.Found);
    EXPECT_EQ(L"\u5373\u5C06\u5207\u6362\u5230 Android \u64CD\u4F5C\u7CFB\u7EDF\u3002",
              Text(OSSWITCHER_IDS_SWITCH_CONTINUE));
    EXPECT_EQ(L"\u53D6\u6D88", Text(BTN_TEXT_CANCEL));
    EXPECT_EQ(L"OK", Text(BTN_TEXT_OK));
    EXPECT_EQ(L"Obrin Config Utility", Text(OSSWITCHER_IDS_APP_TITLE));
    EXPECT_EQ(1u, m_record.SilenceMode);
    EXPECT_EQ(0u, m_record.RebootAfterInstallation);
    for (int slot = 0; slot < LANG_STRING_COUNT; ++slot)
        EXPECT_NE(nullptr, m_record.Strings[slot]) << g_LangStringKeys[slot];
}

TEST_F(LanguageLoadTest, EnglishTakesTheCustomizedContinueText)
{
    Load(0x0409);
    EXPECT_EQ(L"Going to switch to android OS.", Text(OSSWITCHER_IDS_SWITCH_CONTINUE));
    EXPECT_EQ(L"A reboot is required  to complete the process.", Text(OSSWITCHER_IDS_SWITCH_REBOOT));
    EXPECT_EQ(L"Obrin is not ready, maybe you need to reboot this platform.",
              Text(OSSWITCHER_IDS_SWITCH_FEATURE_NOT_READY));
}

TEST_F(LanguageLoadTest, HongKongLocaleGetsTraditionalChinese)
{
    Load(0x0C04);
    EXPECT_EQ(L"\u7565\u904E", Text(BTN_TEXT_IGNORE));
}

TEST_F(LanguageLoadTest, KoreanLocaleGetsEnglish)
{
    Load(0x0412);
    EXPECT_EQ(L"Ignore", Text(BTN_TEXT_IGNORE));
}

TEST_F(LanguageLoadTest, LanguageIdentifierForcesJapanese)
{
    Load(0x0804, "[GENERAL]\nLanguageIdentifier=0x0411\nLanguageSupportsList=0x0409, 0x0804, 0x0411\n"
                 "[LANGUAGE_JP]\nCUSTOMIZED_STRING=0\nLANG_ID_IDENTIFIER=0x0411\n"
                 "BTN_TEXT_OK=OK\nBTN_TEXT_CANCEL=\xE3\x82\xAD\xE3\x83\xA3\xE3\x83\xB3\xE3\x82\xBB\xE3\x83\xAB\n"
                 "[LANGUAGE_ZH-CN]\nCUSTOMIZED_STRING=0\nLANG_ID_IDENTIFIER=0x0804\nBTN_TEXT_OK=x\n");
    EXPECT_EQ(0x0411, m_record.LanguageIdentifier);
    EXPECT_EQ(L"\u30AD\u30E3\u30F3\u30BB\u30EB", Text(BTN_TEXT_CANCEL));
    EXPECT_EQ(L"OK", Text(BTN_TEXT_OK));
    // Keys the sections lack stay unloaded.
    EXPECT_EQ(nullptr, m_record.Strings[WIXCA_IDS_CONTINUE]);
}

TEST_F(LanguageLoadTest, OverlongCustomizedTextKeepsTheBaseText)
{
    const std::string text = "[GENERAL]\nLanguageSupportsList=0x0409\n"
                             "[LANGUAGE_EN]\nCUSTOMIZED_STRING=1\nLANG_ID_IDENTIFIER=0x0409\nBTN_TEXT_OK=" +
                             std::string(1024, 'k') + "\nBTN_TEXT_NO=Nope\n"
                             "[LANGUAGE_EN]\nCUSTOMIZED_STRING=0\nLANG_ID_IDENTIFIER=0x0409\nBTN_TEXT_OK=OK\n"
                             "BTN_TEXT_NO=No\n";
    Load(0x0409, text.c_str());
    EXPECT_EQ(L"OK", Text(BTN_TEXT_OK));
    EXPECT_EQ(L"Nope", Text(BTN_TEXT_NO));
}

TEST_F(LanguageLoadTest, NoBaseSectionLeavesEverySlotEmpty)
{
    Load(0x0409, "[GENERAL]\nLanguageSupportsList=0x0409\n"
                 "[LANGUAGE_EN]\nCUSTOMIZED_STRING=1\nLANG_ID_IDENTIFIER=0x0409\nBTN_TEXT_OK=custom\n");
    EXPECT_EQ(0u, m_record.Found);
    for (wchar_t* text : m_record.Strings)
        EXPECT_EQ(nullptr, text);
}

TEST(ProcessLanguageStrings, LoadFillsTheSharedRecord)
{
    ASSERT_EQ(0u, g_LangStrings.Found);
    ASSERT_EQ(nullptr, g_LangStrings.Strings[BTN_TEXT_OK]);
    LoadLanguageStrings(0x0409);
    EXPECT_EQ(1u, g_LangStrings.Found);
    ASSERT_NE(nullptr, g_LangStrings.Strings[OSSWITCHER_IDS_SWITCH_CONTINUE]);
    EXPECT_STREQ(L"Going to switch to android OS.", g_LangStrings.Strings[OSSWITCHER_IDS_SWITCH_CONTINUE]);
    EXPECT_EQ(0x0409u, g_LangStrings.SupportedLanguages[0]);
}

// Reads one string of the string table in the given language, as LoadString
// would for a thread of that language.
std::wstring TableString(UINT id, LANGID language)
{
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC block = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (!block)
        return L"<no block>";
    const auto* entry = static_cast<const WCHAR*>(LockResource(LoadResource(module, block)));
    for (UINT index = 0; index < id % 16; ++index)
        entry += 1 + *entry;
    return std::wstring(entry + 1, *entry);
}

TEST(StringTable, EnglishAndSimplifiedChineseSwitcherTexts)
{
    const LANGID english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    const LANGID chinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
    EXPECT_EQ(L"Obrin Config Utility", TableString(IDS_OSSWITCHER_APP_TITLE, english));
    EXPECT_EQ(L"Launch Obrin Config Utility", TableString(IDS_OSSWITCHER_SWITCH_JUMP_LIST, english));
    EXPECT_EQ(L"A reboot is required  to complete the process.", TableString(IDS_OSSWITCHER_SWITCH_REBOOT, english));
    EXPECT_EQ(L"Going to switch to another OS.", TableString(IDS_OSSWITCHER_SWITCH_CONTINUE, english));
    EXPECT_EQ(L"Obrin is not ready, maybe you need to reboot this platform.",
              TableString(IDS_OSSWITCHER_SWITCH_FEATURE_NOT_READY, english));
    EXPECT_EQ(0u, TableString(IDS_OSSWITCHER_SWITCH_WITH_LEGACY, english).find(L"OS switch cannot work"));
    EXPECT_EQ(L"Obrin Config Utility", TableString(IDS_OSSWITCHER_APP_TITLE, chinese));
    EXPECT_EQ(L"\u5373\u5C06\u5207\u6362\u5230\u53E6\u4E00\u4E2A\u64CD\u4F5C\u7CFB\u7EDF\u3002",
              TableString(IDS_OSSWITCHER_SWITCH_CONTINUE, chinese));
    EXPECT_EQ(L"\u542F\u52A8 Obrin Config Utility", TableString(IDS_OSSWITCHER_SWITCH_JUMP_LIST, chinese));
}

}  // namespace
