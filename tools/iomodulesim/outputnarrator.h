#pragma once
// Tells a person what the camera's output frames mean: which outputs are
// active, by the meaning the standard layout gives them, and at the end of
// each cycle the camera's answer to the machine: "released (OK)" when the
// outputs go back to rest after the camera held the mould, "held (NG,
// alarm)" when the alarm output comes on.
//
// Outputs are numbered as on the module's terminals, O1 first (bit 0 of
// the IO word): O1 holds the mould open (the machine may not close), O2
// holds the ejector, O3 is the alarm, O4 carries a copy of one of them.
// An output is active when its level differs from its rest level (all low
// unless the camera's IO parameters say otherwise).
#include <QString>

class OutputNarrator {
public:
    explicit OutputNarrator(int restBits = 0) : m_restBits(restBits & 0xff) {}

    // The active outputs of an output word, named: "O1 mould held, O3
    // alarm", or "all at rest (the mould may close)".
    QString describe(int bits) const;

    // Takes the next output word the camera sent. Returns the verdict line
    // when this word ends a cycle ("cycle 2: released (OK)", "cycle 3: held
    // (NG, alarm)"), else an empty text.
    QString take(int bits);

    int okCycles() const { return m_ok; }
    int ngCycles() const { return m_ng; }

    // The word's outputs: O1..O8 active as a bit set.
    int activeBits(int bits) const { return (bits ^ m_restBits) & 0xff; }

private:
    enum class State { Rest, Holding, Alarm };
    State stateOf(int bits) const;

    int m_restBits;
    State m_state = State::Rest;
    int m_ok = 0;
    int m_ng = 0;
};
