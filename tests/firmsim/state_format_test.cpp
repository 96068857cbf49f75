#include <gtest/gtest.h>

#include "sim/firmware/command_line.h"

namespace firmsim {
namespace {

TEST(FirmsimState, DefaultAnswersFollowTheFirmwareTable)
{
    FirmwareState state;
    EXPECT_EQ(AnswerFor(state, 17), 0u);
    EXPECT_EQ(AnswerFor(state, 16), 0x40000021u);
    EXPECT_EQ(AnswerFor(state, 24), 0x40000000u);
    EXPECT_EQ(AnswerFor(state, 20), 0u);
    EXPECT_EQ(AnswerFor(state, 19), 1u);
    EXPECT_EQ(AnswerFor(state, 99), 0u);
    ApplyCommand(state, Command{CommandKind::Answer, 16, 0x40000001});
    EXPECT_EQ(AnswerFor(state, 16), 0x40000001u);
}

TEST(FirmsimState, AnswerAfterFailClearsTheFailure)
{
    FirmwareState state;
    ApplyCommand(state, Command{CommandKind::Fail, 17, 0x80041001});
    EXPECT_EQ(state.failures.at(17), 0x80041001u);
    ApplyCommand(state, Command{CommandKind::Answer, 17, 3});
    EXPECT_EQ(state.failures.count(17), 0u);
}

TEST(FirmsimState, FormatAndParseRoundTrip)
{
    FirmwareState state;
    state.present = false;
    state.returnType = ReturnType::String;
    state.answers[0x10] = 0x40000021;
    state.failures[0x11] = 0x80041001;
    RecordCall(state, {0x11, 0});
    RecordCall(state, {0x13, 0x40000320});
    RaiseEvent(state, EventKind::DualOs, 0xD2);
    RaiseEvent(state, EventKind::Power, 7);

    const auto parsed = ParseState(FormatState(state));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(*parsed, state);
    EXPECT_EQ(parsed->lastSequence, 2u);
}

TEST(FirmsimState, ParseRejectsDamagedText)
{
    const std::string good = FormatState(FirmwareState{});
    ASSERT_TRUE(ParseState(good).has_value());
    ASSERT_TRUE(ParseState("firmsim-state 1\r\nsequence 3\r\n").has_value());
    for (const char* text : {
             "",
             "firmsim-state 2\nsequence 0\n",
             "firmsim-state 1\n",
             "firmsim-state 1\nsequence 0\npresent 2\n",
             "firmsim-state 1\nsequence 0\nrettype uint16\n",
             "firmsim-state 1\nsequence 0\ncall 0x11\n",
             "firmsim-state 1\nsequence 0\ncall 0x11 0x0 0x0\n",
             "firmsim-state 1\nsequence 0\nanswer 0x11 -1\n",
             "firmsim-state 1\nsequence 5\nevent 3 dualos 0xd2\nevent 3 power 0x7\n",
             "firmsim-state 1\nsequence 1\nevent 2 dualos 0xd2\n",
             "firmsim-state 1\nsequence 1\nevent 1 other 0xd2\n",
             "firmsim-state 1\nsequence 0\n   \n",
             "firmsim-state 1\nsequence 0\nunknown 1\n",
         })
        EXPECT_FALSE(ParseState(text).has_value()) << text;
}

TEST(FirmsimState, CallsAreListedOldestFirstInTheRecordFormat)
{
    FirmwareState state;
    RecordCall(state, {0x11, 0});
    RecordCall(state, {0x13, 0x40000320});
    EXPECT_EQ(FormatCalls(state), "0x00000011 0x00000000\n0x00000013 0x40000320\n");
}

TEST(FirmsimState, CallRecordParsesBackAndKeepsTheLastCalls)
{
    FirmwareState state;
    RecordCall(state, {0x11, 0});
    RecordCall(state, {0x13, 0x40000320});
    FirmwareState parsed;
    ASSERT_TRUE(ParseCalls(FormatCalls(state), parsed));
    EXPECT_EQ(parsed.calls, state.calls);
    EXPECT_EQ(FormatCall({0x14, 1}).size(), 22u);

    std::string many;
    for (uint32_t i = 0; i < kMaxRecordedCalls + 3; ++i)
        many += FormatCall({i, 0});
    ASSERT_TRUE(ParseCalls(many, parsed));
    ASSERT_EQ(parsed.calls.size(), kMaxRecordedCalls);
    EXPECT_EQ(parsed.calls.front().code, 3u);
    EXPECT_EQ(parsed.calls.back().code, kMaxRecordedCalls + 2);

    for (const char* damaged : {"0x11 0x0", "0x11\n", "0x11 0x0 0x0\n", "0x11 x\n", "\n"}) {
        FirmwareState untouched;
        RecordCall(untouched, {1, 2});
        EXPECT_FALSE(ParseCalls(damaged, untouched)) << damaged;
        EXPECT_EQ(untouched.calls.size(), 1u) << damaged;
    }
}

TEST(FirmsimState, ResetKeepsTheEventSequenceCounting)
{
    FirmwareState state;
    RaiseEvent(state, EventKind::DualOs, 0xD2);
    RecordCall(state, {0x11, 0});
    state.present = false;
    ResetState(state);
    EXPECT_TRUE(state.present);
    EXPECT_TRUE(state.calls.empty());
    EXPECT_TRUE(state.events.empty());
    RaiseEvent(state, EventKind::DualOs, 0xD5);
    EXPECT_EQ(state.events.back().sequence, 2u);
}

TEST(FirmsimState, PendingEventsAndCallsStayBounded)
{
    FirmwareState state;
    for (uint32_t i = 0; i < kMaxPendingEvents + 5; ++i)
        RaiseEvent(state, EventKind::Power, i);
    ASSERT_EQ(state.events.size(), kMaxPendingEvents);
    EXPECT_EQ(state.events.front().value, 5u);
    EXPECT_EQ(state.events.back().sequence, kMaxPendingEvents + 5);

    for (uint32_t i = 0; i < kMaxRecordedCalls + 2; ++i)
        RecordCall(state, {i, 0});
    ASSERT_EQ(state.calls.size(), kMaxRecordedCalls);
    EXPECT_EQ(state.calls.front().code, 2u);
}

}  // namespace
}  // namespace firmsim
