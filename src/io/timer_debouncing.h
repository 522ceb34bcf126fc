#pragma once
// The debounce timer of one input: a single-shot precise timer that, when it
// runs out, reports its input and the level the input went to when the timer
// was started.
//
// Lives on the thread that created it (the IO transport thread).
#include "io/iotypes.h"

#include <QTimer>

class Timer_Debouncing : public QTimer {
    Q_OBJECT
public:
    Timer_Debouncing(int index, QObject* parent = nullptr);

    int get_index() const { return index; }

public slots:
    virtual void set_pretrig_level(ElectricLevel level);
    virtual ElectricLevel get_pretrig_level() const;

signals:
    void timeout_index(int index, ElectricLevel level);

private:
    int index;
    ElectricLevel pretrig_level = ElectricLevel_Low;
};
