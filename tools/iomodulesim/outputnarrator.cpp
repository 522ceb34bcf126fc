#include "tools/iomodulesim/outputnarrator.h"

#include <QStringList>

namespace {

// What each output does in the standard layout, O1 first.
const char* const kMeanings[8] = {"mould held", "ejector held", "alarm", "copy of O1..O3",
                                  "unused",     "unused",       "unused", "unused"};
constexpr int kMouldHeld = 1 << 0;
constexpr int kEjectorHeld = 1 << 1;
constexpr int kAlarm = 1 << 2;

}  // namespace

QString OutputNarrator::describe(int bits) const
{
    const int active = activeBits(bits);
    if (active == 0)
        return QStringLiteral("all at rest (the mould may close)");
    QStringList names;
    for (int i = 0; i < 8; ++i) {
        if (active & (1 << i))
            names << QStringLiteral("O%1 %2").arg(i + 1).arg(QLatin1String(kMeanings[i]));
    }
    return names.join(QStringLiteral(", "));
}

OutputNarrator::State OutputNarrator::stateOf(int bits) const
{
    const int active = activeBits(bits);
    if (active & kAlarm)
        return State::Alarm;
    if (active & (kMouldHeld | kEjectorHeld))
        return State::Holding;
    return State::Rest;
}

QString OutputNarrator::take(int bits)
{
    const State before = m_state;
    m_state = stateOf(bits);
    if (m_state == State::Alarm && before != State::Alarm) {
        ++m_ng;
        return QStringLiteral("cycle %1: held (NG, alarm)").arg(m_ok + m_ng);
    }
    if (m_state == State::Rest && before == State::Holding) {
        ++m_ok;
        return QStringLiteral("cycle %1: released (OK)").arg(m_ok + m_ng);
    }
    if (m_state == State::Rest && before == State::Alarm)
        return QStringLiteral("alarm cleared: released");
    return QString();
}
