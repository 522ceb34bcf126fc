#pragma once
// What a camera-group work event gives back to the flow: one camera's result
// of one detection step (SCollect_Unit) and the answer of the whole event
// (FlowWork_WorkEvent_Back). Plain copyable values.
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

// One camera's result of one detect step. Its map form (toMap) carries the
// keys "is_valid", "detect_model", "detect", "result", "calculate_time",
// "calculate_times" and "collect_time".
struct SCollect_Unit {
    bool is_valid = false;
    int detect_model = 0;
    int detect = -1;
    bool result = false;  // true = OK
    int calculate_time = -1;  // ms
    int calculate_times = 0;
    qint64 collect_time = -1;  // epoch ms

    SCollect_Unit() = default;
    // From the map form: every field from its key, converted to the field's
    // type; a missing key converts as an empty value (false or 0), not as the
    // field's default.
    explicit SCollect_Unit(const QVariantMap& map);
    // The map form with all seven keys.
    QVariantMap toMap() const;

    bool operator==(const SCollect_Unit& o) const;
    bool operator!=(const SCollect_Unit& o) const { return !(*this == o); }
};

// The answer of one work event. A new record stands for "no event ran":
// work error 5, result -1, no units.
struct FlowWork_WorkEvent_Back {
    int work_error = 5;  // 0 when the event ran
    int result = -1;  // 1 when every camera is OK, 0 otherwise
    QMap<QString, SCollect_Unit> collectlist;  // per camera, keyed by device id
};

Q_DECLARE_METATYPE(SCollect_Unit)
Q_DECLARE_METATYPE(FlowWork_WorkEvent_Back)
