#include "io/timer_debouncing.h"

Timer_Debouncing::Timer_Debouncing(int index, QObject* parent) : QTimer(parent), index(index)
{
    setSingleShot(true);
    setTimerType(Qt::PreciseTimer);
    connect(this, &QTimer::timeout, this, [this] { emit timeout_index(this->index, pretrig_level); });
}

void Timer_Debouncing::set_pretrig_level(ElectricLevel level)
{
    pretrig_level = level;
}

ElectricLevel Timer_Debouncing::get_pretrig_level() const
{
    return pretrig_level;
}
