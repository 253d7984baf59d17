#include "bridge/Rfc2217Codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using C = Rfc2217Codec;

std::string b(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

// IAC SB 44 <command> <value bytes> IAC SE, value bytes as given (already escaped).
std::string sub(int command, std::initializer_list<int> value) {
    return b({255, 250, 44, command}) + b(value) + b({255, 240});
}

struct CommandSeen {
    C::Command command;
    std::uint32_t value;
    std::string text;
    std::size_t dataBefore;
    bool operator==(const CommandSeen&) const = default;
};

struct CodecCase {
    const char* name;
    std::string input;
    std::string data;
    std::vector<CommandSeen> commands;
    std::string reply;
    std::uint64_t problems;
};

C::Input feed(C& codec, const std::string& input, bool byteByByte) {
    C::Input out;
    const auto* p = reinterpret_cast<const std::uint8_t*>(input.data());
    if (byteByByte) {
        for (std::size_t i = 0; i < input.size(); ++i)
            codec.receive(p + i, 1, out);
    } else {
        codec.receive(p, input.size(), out);
    }
    return out;
}

class Rfc2217CodecTest : public ::testing::TestWithParam<CodecCase> {};

// Each case also goes in one byte at a time: a command split over TCP segments is the same.
TEST_P(Rfc2217CodecTest, SplitsDataCommandsAndAnswers) {
    const CodecCase& c = GetParam();
    for (bool byteByByte : {false, true}) {
        SCOPED_TRACE(byteByByte ? "byte by byte" : "in one piece");
        C codec;
        const C::Input out = feed(codec, c.input, byteByByte);
        EXPECT_EQ(out.data, c.data);
        std::vector<CommandSeen> seen;
        for (std::size_t i = 0; i < out.commands.size(); ++i)
            seen.push_back({out.commands[i].command, out.commands[i].value, out.commands[i].text,
                            out.dataBefore[i]});
        EXPECT_EQ(seen, c.commands);
        EXPECT_EQ(out.reply, c.reply);
        EXPECT_EQ(codec.problems(), c.problems) << codec.lastProblem();
    }
}

const std::string big(5000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, Rfc2217CodecTest,
    ::testing::Values(
        CodecCase{
            "PlainDataWithDoubledIac", "a" + b({255, 255}) + "b", "a" + b({255}) + "b", {}, "", 0},
        CodecCase{
            "ClientOffersComPortAndIsAccepted", b({255, 251, 44}), "", {}, b({255, 253, 44}), 0},
        CodecCase{
            "ClientAsksForComPortAndServerWill", b({255, 253, 44}), "", {}, b({255, 251, 44}), 0},
        CodecCase{"RepeatedAgreementIsNotAnswered",
                  b({255, 253, 44, 255, 253, 44}),
                  "",
                  {},
                  b({255, 251, 44}),
                  0},
        CodecCase{"EchoIsRefused", b({255, 253, 1}), "", {}, b({255, 252, 1}), 0},
        CodecCase{"UnknownOptionOfferIsRefused", b({255, 251, 24}), "", {}, b({255, 254, 24}), 0},
        CodecCase{"DisabledOptionIsConfirmedOnce",
                  b({255, 253, 3, 255, 254, 3, 255, 254, 3}),
                  "",
                  {},
                  b({255, 251, 3, 255, 252, 3}),
                  0},
        CodecCase{"BaudRateInNetworkOrder",
                  sub(1, {0, 1, 0xC2, 0}),
                  "",
                  {{C::SetBaudRate, 115200, "", 0}},
                  "",
                  0},
        CodecCase{"BaudRateWithAnEscapedByte",
                  sub(1, {0, 0, 1, 255, 255}),
                  "",
                  {{C::SetBaudRate, 0x1FF, "", 0}},
                  "",
                  0},
        CodecCase{"DataBeforeAndAfterACommandKeepsItsPlace",
                  "ab" + sub(2, {7}) + "c",
                  "abc",
                  {{C::SetDataSize, 7, "", 2}},
                  "",
                  0},
        CodecCase{
            "SignatureCarriesText", sub(0, {'p', 'y'}), "", {{C::Signature, 0, "py", 0}}, "", 0},
        CodecCase{"PollsWithoutValue",
                  sub(7, {}) + sub(8, {}),
                  "",
                  {{C::NotifyModemState, 0, "", 0}, {C::FlowControlSuspend, 0, "", 0}},
                  "",
                  0},
        CodecCase{"ValueOfWrongLengthIsDropped", sub(1, {1, 2}) + "z", "z", {}, "", 1},
        CodecCase{"UnknownCommandIsDropped", sub(99, {1}) + "z", "z", {}, "", 1},
        CodecCase{"OtherOptionSubnegotiationIsIgnored",
                  b({255, 250, 24, 1, 255, 240}) + "z",
                  "z",
                  {},
                  "",
                  1},
        CodecCase{"HugeSubnegotiationIsDroppedWhole",
                  b({255, 250, 44, 1}) + big + b({255, 240}) + "z",
                  "z",
                  {},
                  "",
                  1},
        CodecCase{"SubnegotiationCutByACommandEndsIt",
                  b({255, 250, 44, 1, 0, 255, 253, 44}) + "z",
                  "z",
                  {},
                  b({255, 251, 44}),
                  1},
        CodecCase{"StrayEndOfSubnegotiation", b({255, 240}) + "z", "z", {}, "", 1},
        CodecCase{
            "OtherTelnetCommandsAreSkipped", b({255, 241, 'a', 255, 249, 'b'}), "ab", {}, "", 0}),
    [](const ::testing::TestParamInfo<CodecCase>& info) { return std::string(info.param.name); });

TEST(Rfc2217CodecTest, AnswersAndDataAreFramedWithIacDoubled) {
    EXPECT_EQ(C::answer(C::SetBaudRate, 115200), b({255, 250, 44, 101, 0, 1, 0xC2, 0, 255, 240}));
    EXPECT_EQ(C::answer(C::SetBaudRate, 0xFF), b({255, 250, 44, 101, 0, 0, 0, 255, 255, 255, 240}));
    EXPECT_EQ(C::answer(C::SetControl, 11), b({255, 250, 44, 105, 11, 255, 240}));
    EXPECT_EQ(C::answer(C::FlowControlSuspend, 0), b({255, 250, 44, 108, 255, 240}));
    EXPECT_EQ(C::answerText(C::Signature, "w"), b({255, 250, 44, 100, 'w', 255, 240}));
    std::string out;
    const std::string data = b({1, 255, 2});
    C::escape(data.data(), data.size(), out);
    EXPECT_EQ(out, b({1, 255, 255, 2}));
    C codec;
    EXPECT_EQ(codec.greeting(), b({255, 251, 0, 255, 253, 0}));
    // The client's agreement to the greeting needs no answer.
    C::Input in;
    const std::string agree = b({255, 253, 0, 255, 251, 0});
    codec.receive(reinterpret_cast<const std::uint8_t*>(agree.data()), agree.size(), in);
    EXPECT_EQ(in.reply, "");
}

} // namespace
