// What the IO-module simulator says about the camera's output words: the
// active outputs by meaning, and at the end of a cycle whether the machine
// was released or held.
#include "tools/iomodulesim/outputnarrator.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace {

int word(const char* text)
{
    int bits = 0;
    for (int i = 0; i < 8; ++i)
        bits |= text[i] == '1' ? 1 << i : 0;
    return bits;
}

TEST(OutputNarrator, NamesTheActiveOutputsFromTheirRestLevels)
{
    struct Case {
        const char* rest;
        const char* word;
        const char* said;
    };
    const Case cases[] = {
        {"00000000", "00000000", "all at rest (the mould may close)"},
        {"00000000", "10000000", "O1 mould held"},
        {"00000000", "11100000", "O1 mould held, O2 ejector held, O3 alarm"},
        {"00000000", "00010001", "O4 copy of O1..O3, O8 unused"},
        {"10100000", "10100000", "all at rest (the mould may close)"},
        {"10100000", "00000000", "O1 mould held, O3 alarm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.rest) + " " + c.word);
        EXPECT_EQ(OutputNarrator(word(c.rest)).describe(word(c.word)).toStdString(), c.said);
    }
}

TEST(OutputNarrator, SaysTheVerdictOnceAtTheEndOfEachCycle)
{
    struct Case {
        const char* name;
        QStringList words;
        QStringList said;  // one entry per word, empty when nothing is said
    };
    const Case cases[] = {
        {"ok cycle", {"00000000", "10000000", "00000000"}, {"", "", "cycle 1: released (OK)"}},
        {"ng cycle, then the alarm ends",
         {"10000000", "10100000", "10100000", "10000000", "00000000"},
         {"", "cycle 1: held (NG, alarm)", "", "", "cycle 2: released (OK)"}},
        {"alarm cleared at once", {"10000000", "10100000", "00000000"},
         {"", "cycle 1: held (NG, alarm)", "alarm cleared: released"}},
        {"rest repeated is no cycle", {"00000000", "00000000"}, {"", ""}},
        {"ejector hold counts as holding", {"01000000", "00000000"}, {"", "cycle 1: released (OK)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OutputNarrator narrator;
        QStringList said;
        for (const QString& w : c.words)
            said << narrator.take(word(w.toLatin1().constData()));
        EXPECT_EQ(said, c.said);
    }
}

TEST(OutputNarrator, CountsReleasedAndHeldCycles)
{
    OutputNarrator narrator;
    for (const char* w : {"10000000", "00000000", "10000000", "10100000", "00000000", "10000000", "00000000"})
        narrator.take(word(w));
    EXPECT_EQ(narrator.okCycles(), 2);
    EXPECT_EQ(narrator.ngCycles(), 1);
}

}  // namespace
