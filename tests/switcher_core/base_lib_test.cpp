#include "switcher/baselib/base_lib.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class BaseLibTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(1, BaseLib_Initialize(&m_context)); }
    void TearDown() override { BaseLib_Uninitialize(&m_context); }

    BaseLibHandle Handle() { return BaseLib_Handle(&m_context); }
    const BaseLibOperations& Ops() const { return m_context.Ops; }

    int32_t HexToValue(const char* text, uint16_t& value, uint32_t size = 2)
    {
        return Ops().HexToValue(Handle(), text, &value, size);
    }

    size_t TagCount()
    {
        size_t count = 0;
        const ListEntry* head = &m_context.TagList->Link;
        for (const ListEntry* node = head->ForwardLink; node != head; node = node->ForwardLink)
            ++count;
        return count;
    }

    std::string TempPath(const char* name)
    {
        return testing::TempDir() + name;
    }

    static std::string ReadFile(const std::string& path)
    {
        // Text mode: the platform's own line ends, "\n" on Linux, CR LF on Windows.
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    BaseLibContext m_context{};
};

TEST_F(BaseLibTest, InitialisedContextCarriesSignatureAndZeroedSubRecords)
{
    EXPECT_EQ(1u, m_context.Initialized);
    EXPECT_EQ(0, memcmp(&m_context.Signature, "BasL", 4));
    EXPECT_EQ(0u, m_context.DiagSettings->Enabled);
    EXPECT_EQ(0u, m_context.DiagSettings->Outputs);
    EXPECT_EQ('\0', m_context.DiagSettings->FilePath[0]);
    for (uint8_t byte : m_context.Reserved->Bytes)
        EXPECT_EQ(0, byte);
    EXPECT_EQ(0, memcmp(&m_context.ListOps->Signature, "LLst", 4));
    EXPECT_EQ(1, m_context.ListOps->IsEmpty(LinkedList_Handle(m_context.ListOps), &m_context.TagList->Link));
}

TEST_F(BaseLibTest, InstanceCountFollowsInitialisation)
{
    const int32_t before = Ops().InstanceCount(Handle());
    BaseLibContext second{};
    ASSERT_EQ(1, BaseLib_Initialize(&second));
    EXPECT_EQ(before + 1, second.Ops.InstanceCount(BaseLib_Handle(&second)));
    BaseLib_Uninitialize(&second);
    EXPECT_EQ(before, Ops().InstanceCount(Handle()));
    EXPECT_EQ(0u, second.Signature);
    EXPECT_EQ(nullptr, second.DiagSettings);
}

TEST_F(BaseLibTest, InitialisingTwiceIsRefused)
{
    EXPECT_EQ(0, BaseLib_Initialize(&m_context));
    EXPECT_EQ(1u, m_context.Initialized);
}

TEST_F(BaseLibTest, OperationsRefuseMissingOrForeignHandle)
{
    uint32_t notASignature = 0x12345678;
    uint16_t value = 0xAAAA;
    EXPECT_EQ(nullptr, Ops().MmAllocMem(nullptr, 8));
    EXPECT_EQ(nullptr, Ops().MmAllocMemWithTag(&notASignature, 8, 1));
    EXPECT_EQ(0, Ops().MmCmpMem(nullptr, "a", "a", 1));
    EXPECT_EQ(0, Ops().HexToValue(nullptr, "12", &value, 2));
    EXPECT_EQ(0xAAAA, value);
    EXPECT_EQ(0, Ops().MmGetStatus(nullptr, 0));
    EXPECT_EQ(1, Ops().MmGetStatus(Handle(), 0));
    EXPECT_EQ(nullptr, Ops().FileOpen(nullptr, "x", "r"));
    EXPECT_EQ(0, Ops().InstanceCount(nullptr));
}

TEST_F(BaseLibTest, HexToValueReadsDigitsAfterThePrefix)
{
    uint16_t value = 0xFFFF;
    EXPECT_EQ(1, HexToValue(" 0x0404", value));
    EXPECT_EQ(0x0404, value);
    EXPECT_EQ(1, HexToValue("0X0411", value));
    EXPECT_EQ(0x0411, value);
    EXPECT_EQ(1, HexToValue("ab", value));
    EXPECT_EQ(0xAB, value);
}

TEST_F(BaseLibTest, HexToValueWithTooManyDigitsStoresNothingAndFails)
{
    uint16_t value = 0x1234;
    EXPECT_EQ(0, HexToValue("0x04040", value));
    EXPECT_EQ(0x1234, value);
    // Leading blanks without a prefix count as characters.
    EXPECT_EQ(0, HexToValue(" 0404", value));
    EXPECT_EQ(0x1234, value);
}

TEST_F(BaseLibTest, HexToValueStopsAtTheFirstNonDigitKeepingItsWeights)
{
    uint16_t value = 0;
    EXPECT_EQ(0, HexToValue("0x04G9", value));
    EXPECT_EQ(0x0400, value);
}

TEST_F(BaseLibTest, HexToValueRefusesSizesOtherThanOneTwoFour)
{
    uint32_t value = 0x55555555;
    EXPECT_EQ(0, Ops().HexToValue(Handle(), "0x1", &value, 3));
    EXPECT_EQ(0x55555555u, value);
    EXPECT_EQ(0, Ops().HexToValue(Handle(), "0x1", &value, 8));
    EXPECT_EQ(0x55555555u, value);
    // Only the low byte of the size counts.
    EXPECT_EQ(1, Ops().HexToValue(Handle(), "0x1", &value, 0x104));
    EXPECT_EQ(1u, value);
}

TEST_F(BaseLibTest, HexToValueStoresOnlyTheLowSizeBytes)
{
    uint8_t bytes[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(1, Ops().HexToValue(Handle(), "7f", bytes, 1));
    EXPECT_EQ(0x7F, bytes[0]);
    EXPECT_EQ(0xEE, bytes[1]);
    uint32_t wide = 0;
    EXPECT_EQ(1, Ops().HexToValue(Handle(), "0xDEADBEEF", &wide, 4));
    EXPECT_EQ(0xDEADBEEFu, wide);
    uint16_t empty = 0x9999;
    EXPECT_EQ(1, HexToValue("", empty));
    EXPECT_EQ(0, empty);
}

TEST_F(BaseLibTest, UpperCaseAndStripKeepsWhatFollowsTheFirstPrefix)
{
    char text[] = "ab 0x12 0x34";
    EXPECT_EQ(1, Ops().UpperCaseStrip0x(Handle(), text));
    EXPECT_STREQ("12 0X34", text);
    char plain[] = "mixed Case";
    EXPECT_EQ(1, Ops().UpperCase(Handle(), plain));
    EXPECT_STREQ("MIXED CASE", plain);
}

TEST_F(BaseLibTest, TrimTrailingBlanksChecksTheCapacity)
{
    char text[16] = "value   ";
    EXPECT_EQ(0, Ops().TrimTrailingBlanks(Handle(), text, 8));
    EXPECT_STREQ("value   ", text);
    EXPECT_EQ(1, Ops().TrimTrailingBlanks(Handle(), text, sizeof(text)));
    EXPECT_STREQ("value", text);
}

TEST_F(BaseLibTest, MmCmpMemComparesWordsThenBytes)
{
    const unsigned char byteOrderMark[] = {0xEF, 0xBB, 0xBF};
    EXPECT_EQ(0, Ops().MmCmpMem(Handle(), "[GE", byteOrderMark, 3));
    EXPECT_EQ(1, Ops().MmCmpMem(Handle(), "\xEF\xBB\xBF[GENERAL]", byteOrderMark, 3));
    EXPECT_EQ(1, Ops().MmCmpMem(Handle(), "abcdefg", "abcdefg", 7));
    EXPECT_EQ(0, Ops().MmCmpMem(Handle(), "abcdefg", "abcdefh", 7));
    EXPECT_EQ(0, Ops().MmCmpMem(Handle(), "abcdefg", "xbcdefg", 7));
    EXPECT_EQ(1, Ops().MmCmpMem(Handle(), "a", "b", 0));
    EXPECT_EQ(0, Ops().MmCmpMem(Handle(), nullptr, "b", 1));
}

TEST_F(BaseLibTest, ZeroAndCopyMem)
{
    char buffer[8] = "abcdefg";
    EXPECT_EQ(buffer, Ops().MmZeroMem(Handle(), buffer, 3));
    EXPECT_EQ(0, memcmp(buffer, "\0\0\0defg", 8));
    EXPECT_EQ(buffer, Ops().MmCopyMem(Handle(), buffer, "xyz", 3));
    EXPECT_STREQ("xyzdefg", buffer);
    EXPECT_EQ(nullptr, Ops().MmCopyMem(Handle(), buffer, nullptr, 3));
    EXPECT_EQ(nullptr, Ops().MmZeroMem(Handle(), nullptr, 3));
}

TEST_F(BaseLibTest, PlainAllocationIsZeroFilled)
{
    auto* block = static_cast<unsigned char*>(Ops().MmAllocMem(Handle(), 64));
    ASSERT_NE(nullptr, block);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(0, block[i]);
    EXPECT_EQ(0u, TagCount());
    EXPECT_EQ(1, Ops().MmFreeMem(Handle(), block));
}

TEST_F(BaseLibTest, TaggedAllocationsAreRecordedAtTheHeadAndFreedByAddress)
{
    void* first = Ops().MmAllocMemWithTag(Handle(), 16, 0x41414141);
    void* second = Ops().MmAllocMemWithTag(Handle(), 32, 0x42424242);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    ASSERT_EQ(2u, TagCount());
    const auto* head = reinterpret_cast<const BaseLibTagInfo*>(m_context.TagList->Link.ForwardLink);
    EXPECT_EQ(second, head->Address);
    EXPECT_EQ(32u, head->Size);
    EXPECT_EQ(0x42424242u, head->Tag);

    EXPECT_EQ(1, Ops().MmFreeMemWithTag(Handle(), first));
    EXPECT_EQ(1u, TagCount());
    EXPECT_EQ(0, Ops().MmFreeMemWithTag(Handle(), first));
    EXPECT_EQ(1u, TagCount());
    EXPECT_EQ(0, Ops().MmFreeMemWithTag(Handle(), nullptr));
}

TEST_F(BaseLibTest, FreeingAnUntaggedBlockReportsNotFoundAndChangesNothing)
{
    void* tagged = Ops().MmAllocMemWithTag(Handle(), 8, 1);
    void* untagged = Ops().MmAllocMem(Handle(), 8);
    ASSERT_NE(nullptr, tagged);
    ASSERT_NE(nullptr, untagged);
    EXPECT_EQ(0, Ops().MmFreeMemWithTag(Handle(), untagged));
    EXPECT_EQ(1u, TagCount());
    static_cast<char*>(untagged)[7] = 'x';  // still owned by the caller
    EXPECT_EQ(1, Ops().MmFreeMem(Handle(), untagged));
}

TEST_F(BaseLibTest, UninitialiseFreesTaggedBlocksStillHeld)
{
    // Under the sanitizers a block left here would be reported as a leak.
    ASSERT_NE(nullptr, Ops().MmAllocMemWithTag(Handle(), 100, 7));
    ASSERT_NE(nullptr, Ops().MmAllocMemWithTag(Handle(), 200, 8));
    BaseLib_Uninitialize(&m_context);
    EXPECT_EQ(0u, m_context.Initialized);
    ASSERT_EQ(1, BaseLib_Initialize(&m_context));
}

TEST_F(BaseLibTest, FormatIntoBufferNeedsFourBytesToSpare)
{
    char buffer[16];
    EXPECT_EQ(0, Ops().SPrint(Handle(), nullptr, sizeof(buffer), "%d", 1));
    EXPECT_EQ(0, Ops().SPrint(Handle(), buffer, sizeof(buffer), nullptr));
    // "value=12345" is 11 characters: 15 bytes are needed.
    EXPECT_EQ(-1, Ops().SPrint(Handle(), buffer, 14, "value=%d", 12345));
    EXPECT_EQ(11, Ops().SPrint(Handle(), buffer, 15, "value=%d", 12345));
    EXPECT_STREQ("value=12345", buffer);
}

TEST_F(BaseLibTest, WideFormatIntoBufferNeedsTwiceTheLengthPlusEight)
{
    wchar_t buffer[32];
    const size_t needed = 5 * sizeof(wchar_t) + 8;
    EXPECT_EQ(-1, Ops().SPrintW(Handle(), nullptr, sizeof(buffer), L"x"));
    EXPECT_EQ(-1, Ops().SPrintW(Handle(), buffer, needed - 1, L"%ls%d", L"ab", 123));
    EXPECT_EQ(5, Ops().SPrintW(Handle(), buffer, needed, L"%ls%d", L"ab", 123));
    EXPECT_STREQ(L"ab123", buffer);
}

TEST_F(BaseLibTest, BitTests)
{
    EXPECT_EQ(1, Ops().BitTest(Handle(), 0x40000000, 30));
    EXPECT_EQ(0, Ops().BitTest(Handle(), 0x40000000, 29));
    EXPECT_EQ(1, Ops().BitTest(Handle(), 0x2, 33));  // modulo 32
    EXPECT_EQ(0, Ops().BitTestInverted(Handle(), 0x40000000, 30));
    EXPECT_EQ(1, Ops().BitTestInverted(Handle(), 0x40000000, 29));
}

TEST_F(BaseLibTest, FilesWriteReadLengthAndCloseThroughTaggedHandles)
{
    const std::string path = TempPath("baselib_file.bin");
    BaseLibFile* file = Ops().FileOpen(Handle(), path.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(BASE_LIB_FILE_TAG, file->Tag);
    ASSERT_EQ(1u, TagCount());
    EXPECT_EQ(BASE_LIB_FILE_TAG, reinterpret_cast<const BaseLibTagInfo*>(m_context.TagList->Link.ForwardLink)->Tag);
    EXPECT_EQ(3u, Ops().FileWrite(Handle(), "abcdef", 2, 3, file));
    EXPECT_EQ(1, Ops().FileClose(Handle(), file));
    EXPECT_EQ(0u, TagCount());

    file = Ops().FileOpen(Handle(), path.c_str(), "rb");
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(6, Ops().FileLength(Handle(), file));
    char buffer[8] = {};
    EXPECT_EQ(6u, Ops().FileRead(Handle(), buffer, 1, sizeof(buffer), file));
    EXPECT_STREQ("abcdef", buffer);
    EXPECT_EQ(0u, Ops().FileRead(Handle(), nullptr, 1, 1, file));
    EXPECT_EQ(1, Ops().FileClose(Handle(), file));
    remove(path.c_str());
}

TEST_F(BaseLibTest, FileOperationsRefuseWhatIsNotAFileHandle)
{
    BaseLibFile fake{nullptr, 0};
    char buffer[4];
    EXPECT_EQ(nullptr, Ops().FileOpen(Handle(), TempPath("missing/dir/file").c_str(), "rb"));
    EXPECT_EQ(nullptr, Ops().FileOpen(Handle(), nullptr, "rb"));
    EXPECT_EQ(0u, Ops().FileRead(Handle(), buffer, 1, 4, &fake));
    EXPECT_EQ(0, Ops().FileClose(Handle(), &fake));
    EXPECT_EQ(0, Ops().FileClose(Handle(), nullptr));
    EXPECT_EQ(0u, TagCount());
}

TEST_F(BaseLibTest, AppendTextAndFormattedTextToAFile)
{
    const std::string path = TempPath("baselib_append.txt");
    remove(path.c_str());
    EXPECT_EQ(1, Ops().FileAppendString(Handle(), path.c_str(), "one;"));
    EXPECT_EQ(1, Ops().FilePrint(Handle(), path.c_str(), "%s=%d;", "two", 2));
    EXPECT_EQ("one;two=2;", ReadFile(path));
    // More than 1024 formatted bytes are refused, not written cut short.
    const std::string longText(1024, 'x');
    EXPECT_EQ(0, Ops().FilePrint(Handle(), path.c_str(), "%s", longText.c_str()));
    EXPECT_EQ("one;two=2;", ReadFile(path));
    remove(path.c_str());
}

TEST_F(BaseLibTest, DiagnosticMessagesAreSilentUntilEnabled)
{
    EXPECT_EQ(0, Ops().DiagMessage(Handle(), BASE_LIB_DIAG_INFO, 4, "Fn", "%s", "text"));
    BaseLibDiagSettings& settings = *m_context.DiagSettings;
    settings.Enabled = 1;
    settings.Outputs = BASE_LIB_DIAG_TO_CONSOLE;
    settings.Levels = BASE_LIB_DIAG_INFO | BASE_LIB_DIAG_ERRO;
    settings.Categories = 2;
    EXPECT_EQ(0, Ops().DiagMessage(Handle(), BASE_LIB_DIAG_INFO, 4, "Fn", "%s", "text"));  // category not shared
    settings.Categories = 4;
    EXPECT_EQ(0, Ops().DiagMessage(Handle(), BASE_LIB_DIAG_WARN, 4, "Fn", "%s", "text"));  // level not set
    EXPECT_EQ(0, Ops().DiagMessage(Handle(), 3, 4, "Fn", "%s", "text"));                   // not a type
    settings.Categories = 7;  // above 6 every category passes
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, Ops().DiagMessage(Handle(), BASE_LIB_DIAG_INFO, 1, "Fn", "%s=%d", "x", 5));
    EXPECT_EQ("[INFO][Fn()] x=5\n", testing::internal::GetCapturedStdout());
}

TEST_F(BaseLibTest, EnabledDiagnosticsTraceTaggedAllocationsToTheFile)
{
    const std::string path = TempPath("baselib_diag.txt");
    remove(path.c_str());
    BaseLibDiagSettings& settings = *m_context.DiagSettings;
    settings.Enabled = 1;
    settings.Outputs = BASE_LIB_DIAG_TO_FILE;
    settings.Levels = BASE_LIB_DIAG_INFO | BASE_LIB_DIAG_WARN | BASE_LIB_DIAG_ERRO;
    settings.Categories = BASE_LIB_DIAG_CATEGORY;
    ASSERT_LT(path.size(), sizeof(settings.FilePath));
    memcpy(settings.FilePath, path.c_str(), path.size() + 1);

    void* block = Ops().MmAllocMemWithTag(Handle(), 12, 0x31343538);
    ASSERT_NE(nullptr, block);
    int notTagged = 0;
    EXPECT_EQ(0, Ops().MmFreeMemWithTag(Handle(), &notTagged));
    EXPECT_EQ(1, Ops().MmFreeMemWithTag(Handle(), block));

    const std::string log = ReadFile(path);
    EXPECT_EQ(0u, log.find("[INFO][BaseLib_MmAllocMemWithTag()] (==\n")) << log;
    EXPECT_NE(std::string::npos, log.find("iSize=12  Tag=8541\n")) << log;
    EXPECT_NE(std::string::npos, log.find("PASSED Memories TagInfo(0x")) << log;
    EXPECT_NE(std::string::npos, log.find("[ERRO][BaseLib_MmFreeMemWithTag()] FAILED Indicated memory(0x")) << log;
    EXPECT_NE(std::string::npos, log.find("is not found in LinkedList\n")) << log;
    EXPECT_NE(std::string::npos, log.find("PASSED pMmTagInfo->pAddress(0x")) << log;
    EXPECT_NE(std::string::npos, log.find("[INFO][BaseLib_MmFreeMemWithTag()] ==)\n")) << log;
    remove(path.c_str());
}

TEST_F(BaseLibTest, ComparisonOutcomeIsReported)
{
    BaseLibDiagSettings& settings = *m_context.DiagSettings;
    settings.Enabled = 1;
    settings.Outputs = BASE_LIB_DIAG_TO_CONSOLE;
    settings.Levels = BASE_LIB_DIAG_INFO;
    settings.Categories = BASE_LIB_DIAG_CATEGORY;
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, Ops().MmCmpMem(Handle(), "ab", "ac", 2));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("[INFO][BaseLib_MmCmpMem()] PASSED Memories are DIFFERENT.\n")) << out;
}

class LinkedListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(1, LinkedList_Initialize(&m_table));
        m_table.InitializeHead(Handle(), &m_head);
    }
    void TearDown() override { LinkedList_Uninitialize(&m_table); }
    LinkedListHandle Handle() { return LinkedList_Handle(&m_table); }

    LinkedListOperations m_table{};
    ListEntry m_head{};
    ListEntry m_nodes[3]{};
};

TEST_F(LinkedListTest, TableCarriesItsSignatureAndCountsInstances)
{
    EXPECT_EQ(0, memcmp(&m_table.Signature, "LLst", 4));
    const int32_t count = m_table.InstanceCount(Handle());
    LinkedListOperations other{};
    ASSERT_EQ(1, LinkedList_Initialize(&other));
    EXPECT_EQ(count + 1, m_table.InstanceCount(Handle()));
    LinkedList_Uninitialize(&other);
    EXPECT_EQ(count, m_table.InstanceCount(Handle()));
    EXPECT_EQ(0u, other.Signature);
    EXPECT_EQ(nullptr, m_table.InitializeHead(LinkedList_Handle(&other), &m_head));
}

TEST_F(LinkedListTest, TailAndHeadInsertionOrder)
{
    EXPECT_EQ(1, m_table.IsEmpty(Handle(), &m_head));
    m_table.InsertTail(Handle(), &m_head, &m_nodes[1]);
    m_table.InsertTail(Handle(), &m_head, &m_nodes[2]);
    m_table.InsertHead(Handle(), &m_head, &m_nodes[0]);
    EXPECT_EQ(0, m_table.IsEmpty(Handle(), &m_head));
    const ListEntry* node = m_head.ForwardLink;
    for (ListEntry& expected : m_nodes) {
        EXPECT_EQ(&expected, node);
        node = node->ForwardLink;
    }
    EXPECT_EQ(&m_head, node);
    EXPECT_EQ(&m_nodes[2], m_head.BackLink);
}

TEST_F(LinkedListTest, RemovalReportsWhenTheListBecomesEmpty)
{
    for (ListEntry& node : m_nodes)
        m_table.InsertTail(Handle(), &m_head, &node);
    EXPECT_EQ(0, m_table.RemoveEntry(Handle(), &m_nodes[1]));
    EXPECT_EQ(0, m_table.RemoveEntry(Handle(), &m_nodes[1]));  // already detached
    EXPECT_EQ(&m_nodes[0], m_table.RemoveHead(Handle(), &m_head));
    EXPECT_EQ(&m_nodes[2], m_head.ForwardLink);
    EXPECT_EQ(1, m_table.RemoveEntry(Handle(), &m_nodes[2]));
    EXPECT_EQ(nullptr, m_table.RemoveHead(Handle(), &m_head));
    EXPECT_EQ(nullptr, m_table.RemoveTail(Handle(), &m_head));

    m_table.InsertTail(Handle(), &m_head, &m_nodes[0]);
    m_table.InsertTail(Handle(), &m_head, &m_nodes[1]);
    EXPECT_EQ(&m_nodes[1], m_table.RemoveTail(Handle(), &m_head));
    EXPECT_EQ(&m_nodes[0], m_head.BackLink);
}

}  // namespace
