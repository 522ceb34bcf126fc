// The IO-module message format read as bytes: framing, fields, IO words, and
// the texts the camera sends back.
#include "io/iomodule_protocol.h"

#include <gtest/gtest.h>

#include <random>

using namespace iomodule;
using Outcome = IoMessageParse::Outcome;

namespace {

struct MessageCase {
    const char* name;
    QByteArray bytes;
    Outcome outcome;
    int used;          // bytes used (Bad and Complete)
    const char* kind;  // Complete only
    int code;
    const char* target;
    int parts;
};

class ParseIoMessage : public ::testing::TestWithParam<MessageCase> {};

TEST_P(ParseIoMessage, GivesTheOutcomeAndFields)
{
    const MessageCase& c = GetParam();
    const IoMessageParse r = parseIoMessage(c.bytes, Skt_Session{QStringLiteral("10.0.0.9"), 4567});
    ASSERT_EQ(int(r.outcome), int(c.outcome)) << c.name << " why: " << r.why.toStdString();
    if (c.outcome == Outcome::Incomplete) {
        EXPECT_EQ(r.used, 0);
        return;
    }
    EXPECT_EQ(r.used, c.used);
    if (c.outcome == Outcome::Bad) {
        EXPECT_FALSE(r.why.isEmpty());
        return;
    }
    EXPECT_EQ(r.message.head.kind, QString::fromLatin1(c.kind));
    EXPECT_EQ(r.message.head.code, c.code);
    EXPECT_EQ(r.message.head.target, QString::fromLatin1(c.target));
    EXPECT_EQ(r.message.parts.size(), c.parts);
    EXPECT_EQ(r.message.head.address, QStringLiteral("10.0.0.9"));
    EXPECT_EQ(r.message.head.port, 4567);
}

const MessageCase kMessages[] = {
    {"heartbeat", "<S;3;io7;10000000;00000000>", Outcome::Complete, 27, "S", 3, "io7", 5},
    {"spaces removed", "< S ; 3 ;io7;1000 0000;00000000>", Outcome::Complete, 32, "S", 3, "io7", 5},
    {"two fields, no target", "<A;1>", Outcome::Complete, 5, "A", 1, "", 2},
    {"empty fields kept", "<A;21;;>", Outcome::Complete, 8, "A", 21, "", 4},
    {"code not a number is 0", "<S;x3;io7>", Outcome::Complete, 10, "S", 0, "io7", 3},
    {"first of two messages", "<S;5;io7;10000000><S;3;io7;a;b>", Outcome::Complete, 18, "S", 5, "io7", 4},
    {"cut at the first close", "<S;5;io7;1>0>", Outcome::Complete, 11, "S", 5, "io7", 4},
    {"no close yet", "<S;3;io7;10000000", Outcome::Incomplete, 0, "", 0, "", 0},
    {"empty", "", Outcome::Incomplete, 0, "", 0, "", 0},
    {"close only after a zero byte", QByteArray("<S;3;io7\0>", 10), Outcome::Incomplete, 0, "", 0, "", 0},
    {"too short", "<A;>", Outcome::Bad, 4, "", 0, "", 0},
    {"only spaces inside", "<    >", Outcome::Bad, 6, "", 0, "", 0},
    {"one field", "<S3io7>", Outcome::Bad, 7, "", 0, "", 0},
    {"garbage before the open", "xx<S;3;io7>", Outcome::Bad, 11, "", 0, "", 0},
    {"lone close", ">", Outcome::Bad, 1, "", 0, "", 0},
};

INSTANTIATE_TEST_SUITE_P(Table, ParseIoMessage, ::testing::ValuesIn(kMessages),
                         [](const ::testing::TestParamInfo<MessageCase>& info) {
                             std::string n = info.param.name;
                             for (char& ch : n)
                                 if (!isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return n;
                         });

TEST(ParseIoMessageText, ToleratesATrailingCarriageReturnAndSpaces)
{
    const IoMessageParse plain = parseIoMessageText("<S;3;io7;10000000;00000000>");
    const IoMessageParse noisy = parseIoMessageText("< S;3; io7;1000 0000 ;00000000 >\r");
    ASSERT_EQ(int(noisy.outcome), int(Outcome::Complete));
    EXPECT_EQ(noisy.message.stripped, plain.message.stripped);
    EXPECT_EQ(noisy.message.parts, plain.message.parts);
}

TEST(ParseIoMessageText, IsBadWhenTheTextDoesNotEndTheMessage)
{
    EXPECT_EQ(int(parseIoMessageText("<S;3;io7>junk").outcome), int(Outcome::Bad));
    EXPECT_EQ(int(parseIoMessageText("<S;3;io7").outcome), int(Outcome::Bad));
    EXPECT_EQ(int(parseIoMessageText("\r").outcome), int(Outcome::Bad));
}

TEST(ParseIoDatagram, SplitsMessagesInOrderAndCountsWhatIsLeft)
{
    const IoDatagramParse d = parseIoDatagram("<S;5;io7;10000000><S;3;io7;10000000;00000000>\r\n<S;3");
    ASSERT_EQ(d.messages.size(), 2);
    EXPECT_EQ(d.messages.at(0).message.head.code, 5);
    EXPECT_EQ(d.messages.at(1).message.head.code, 3);
    // "\r\n<S;3" has no '>': it cannot form a message.
    EXPECT_EQ(d.dropped, 6);
}

TEST(ParseIoDatagram, IgnoresEverythingFromTheFirstZeroByte)
{
    const IoDatagramParse d = parseIoDatagram(QByteArray("<A;1>\0<A;21;APP>", 16));
    ASSERT_EQ(d.messages.size(), 1);
    EXPECT_EQ(d.messages.at(0).message.head.code, 1);
    EXPECT_EQ(d.dropped, 0);
}

TEST(ParseIoDatagram, KeepsBadMessagesBetweenGoodOnes)
{
    const IoDatagramParse d = parseIoDatagram("<A;1>junk><A;10;API>");
    ASSERT_EQ(d.messages.size(), 3);
    EXPECT_EQ(int(d.messages.at(0).outcome), int(Outcome::Complete));
    EXPECT_EQ(int(d.messages.at(1).outcome), int(Outcome::Bad));
    EXPECT_EQ(int(d.messages.at(2).outcome), int(Outcome::Complete));
    EXPECT_EQ(d.messages.at(2).message.head.target, QStringLiteral("API"));
}

struct WordCase {
    const char* text;
    int bits;  // -1: no value
};

TEST(ParseIoWord, TakesExactlyEightBinaryCharactersFirstIsBitZero)
{
    const WordCase cases[] = {
        {"00000000", 0},   {"10000000", 1},  {"00100000", 4},   {"11111111", 255},
        {"1000000", -1},   {"100000000", -1}, {"20000000", -1}, {"1000000x", -1},
        {"", -1},          {" 0000000", -1},  {"-1000000", -1},
    };
    for (const WordCase& c : cases) {
        const std::optional<int> v = parseIoWord(QString::fromLatin1(c.text));
        if (c.bits < 0)
            EXPECT_FALSE(v.has_value()) << c.text;
        else
            EXPECT_EQ(v.value_or(-1), c.bits) << c.text;
    }
}

TEST(ModifyCellsGroupText, TakesEverythingAfterTheTarget)
{
    EXPECT_EQ(modifyCellsGroupText(QStringLiteral("A;22;C1;(M1);();(C1;10.0.0.1);()")).value_or(QString()),
              QStringLiteral("(M1);();(C1;10.0.0.1);()"));
    EXPECT_EQ(modifyCellsGroupText(QStringLiteral("A;22;C1;")).value_or(QStringLiteral("x")), QString());
    EXPECT_FALSE(modifyCellsGroupText(QStringLiteral("A;22;C1")).has_value());
    EXPECT_FALSE(modifyCellsGroupText(QStringLiteral("C;22;C1;(M1)")).has_value());
}

TEST(Replies, AreTheTextsThePeersExpect)
{
    EXPECT_EQ(heartbeatReply(QStringLiteral("cam1")), QByteArray("<C;3;cam1>"));
    EXPECT_EQ(needRepairReply(QStringLiteral("cam1"), QStringLiteral("10.0.0.1")), QByteArray("<C;4;cam1;10.0.0.1>"));
    EXPECT_EQ(inputStateReply(QStringLiteral("cam1")), QByteArray("<C;5;cam1;OK>"));
    EXPECT_EQ(apiDiscoverReply(QStringLiteral("M1"), QStringLiteral("10.0.0.1")), QByteArray("<C;10;M1;10.0.0.1>"));
    EXPECT_EQ(apiDiscoverReply(QStringLiteral("M1"), QString()), QByteArray("<C;10;M1;>"));
    EXPECT_EQ(discoverReply(QStringLiteral("cam1"), QStringLiteral("AA:BB:CC:DD:EE:FF"), QStringLiteral("(M1);();();()")),
              QByteArray("<C;21;cam1;AA:BB:CC:DD:EE:FF;V1.0.5.29;(M1);();();()>"));
    EXPECT_EQ(modifyCellsReply(QStringLiteral("cam1")), QByteArray("<C;22;cam1;OK>"));
    EXPECT_EQ(outputFrame(QStringLiteral("cam1"), 0b100), QByteArray("<C;6;cam1;00100000>"));
    EXPECT_EQ(outputFrame(QStringLiteral("cam1"), 0x1ff), QByteArray("<C;6;cam1;11111111>"));
}

// Random, truncated and mutated datagrams: every one is taken apart into
// Bad and Complete messages plus a dropped rest that together use every byte
// before the first zero byte, and nothing crashes.
TEST(ParseIoDatagramFuzz, AccountsForEveryByteOfAnyInput)
{
    std::mt19937 rng(20240611);
    const QByteArray seeds[] = {
        "<S;3;io7;10000000;00000000>", "<S;5;io7;10000000>", "<A;21;APP>", "<A;22;C1;(M1);();(C1;1.2.3.4);()>",
        "<C;21;C2;AA:BB;V1.0.5.29;(M1);();();()>", "<S;4;io7;10.0.0.2>",
    };
    const char alphabet[] = "<>;; SAC0123456789\r\n\0xyz";
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes;
        switch (round % 3) {
        case 0: {  // pure noise from the protocol's own characters
            const int n = int(rng() % 300);
            for (int i = 0; i < n; ++i)
                bytes.append(alphabet[rng() % (sizeof(alphabet) - 1)]);
            break;
        }
        case 1: {  // a few real messages, truncated anywhere
            const int k = 1 + int(rng() % 4);
            for (int i = 0; i < k; ++i)
                bytes += seeds[rng() % (sizeof(seeds) / sizeof(seeds[0]))];
            bytes.truncate(int(rng() % (bytes.size() + 1)));
            break;
        }
        default: {  // real messages with random bytes changed
            bytes = seeds[rng() % (sizeof(seeds) / sizeof(seeds[0]))];
            const int flips = 1 + int(rng() % 4);
            for (int i = 0; i < flips; ++i)
                bytes[int(rng() % bytes.size())] = char(rng() % 256);
            break;
        }
        }
        const IoDatagramParse d = parseIoDatagram(bytes);
        const int zero = bytes.indexOf('\0');
        const int textSize = zero < 0 ? bytes.size() : zero;
        int used = d.dropped;
        for (const IoMessageParse& m : d.messages) {
            ASSERT_NE(int(m.outcome), int(Outcome::Incomplete));
            ASSERT_GT(m.used, 0);
            ASSERT_TRUE(m.raw.endsWith('>'));
            used += m.used;
        }
        ASSERT_EQ(used, textSize) << bytes.toHex().toStdString();
        ASSERT_LT(d.dropped, textSize + 1);
    }
}

}  // namespace
