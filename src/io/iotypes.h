#pragma once
// Value types of the machine IO: levels of an IO point, the relative state of
// an output, one IO point with a level, and the IO parameter block.
//
// IO points are numbered 0..7 here and 1..8 in operator texts. An IO word is
// an int with bit i for IO i.
#include <QList>
#include <QMetaType>

// Absolute level of an IO point.
enum ElectricLevel : int {
    ElectricLevel_Low = 0,
    ElectricLevel_High = 1,
};

// Relative state of an output, turned into a level by the rest-level table.
enum IOState_Rel : int {
    IOState_Rel_Rest = 0,
    IOState_Rel_Active = 1,
};

// One IO point and a level.
struct IO_IndexLevel {
    int index = 0;
    ElectricLevel level = ElectricLevel_Low;

    bool operator==(const IO_IndexLevel& o) const { return index == o.index && level == o.level; }
};

// Number of inputs and of outputs of the IO module.
constexpr int kIoPointCount = 8;

// The IO parameters, copied whole.
struct FrameIO_Params {
    // Rest level of each output (0 low, 1 high); the active state drives the opposite level.
    int output_init_status[kIoPointCount] = {0, 0, 0, 0, 0, 0, 0, 0};
    // Trigger flags of each input: bit 0 on the high level, bit 1 on the low level.
    int input_trig[kIoPointCount] = {0, 0, 0, 0, 0, 0, 0, 0};
    // No-input warning limit in seconds; 0 or below switches the warning off.
    double inputtimeout = 0.0;
    // Debounce time in units of 100 ms; below 1 means no debouncing.
    int shakeerase_time = 0;
    // 1..3: output 1..3 is mirrored onto output 4; 0 none.
    int backup_output_sub = 0;
    // 1..3: input 1..3 takes the level of input 4; 0 none.
    int backup_input_sub = 0;
};

// The bit positions 0..31 at which a and b differ, ascending.
QList<int> bits_diff_index(int a, int b);

// Registers ElectricLevel and the trigger map for queued signals (idempotent).
void registerIoMetaTypes();

Q_DECLARE_METATYPE(ElectricLevel)
Q_DECLARE_METATYPE(IO_IndexLevel)
