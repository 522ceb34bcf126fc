#pragma once
// The runnable group of the flow. It decides which of its units a passport
// starts, follows the units as they finish, ends a period (one pass over its
// enabled units), chains the next unit with a previous-result passport to
// itself, holds the machine in an NG stop until the stopped step detects OK,
// keeps the statistics and the subscribers informed through the product
// interface, and describes its run state for the run-state report.
//
// Threads: main thread only. The chained passport is posted (queued), so the
// next unit starts after the current finish has been fully handled.
#include "flow/flowbox_group.h"
#include "flow/flowpart_ng_stop.h"

#include <QJsonObject>
#include <QList>

class FlowGroup_Standard : public FlowBox_Group {
    Q_OBJECT
public:
    explicit FlowGroup_Standard(QObject* parent = nullptr);
    ~FlowGroup_Standard() override;

    // True when one of the enabled units accepted the passport and was
    // started. A resample passport (type 64) puts the group into sampling and
    // starts no unit (false).
    bool onStart(FlowUnit_Passport passport) override;
    // The run state with the description of the run node's unit.
    FlowGroup_State get_RunDescribe() override;
    // {"units": [each unit's object with "groupindex"]}.
    QJsonObject get_FlowSerialize() override;
    // The detect index of the first unit whose receipt is "detected"; -1 if none.
    virtual int get_shownode();

    // Counting, pushing, NG-stop bookkeeping and the display record of one
    // finished unit.
    void onFinish_Once(FlowUnit_Passport passport);
    // Ends a period: sampling schedules the training of each enabled unit,
    // the period duration is measured, sig_GroupPeriod_Finish is emitted.
    void onFinish_Period();
    // The remaining wait of the run node's unit in ms; 0 without one.
    int get_RunningUnit_RemainTimems();
    void Update_StashDisplay(const FlowWork_DisplayArea& display);
    // Holds `record` as the only NG stop; run state 2.
    void update_NG_Stop(FlowPart_NG_Stop record);
    // Lifts the held stop when `record` names its detect index with an OK
    // result; run state 0 once nothing is held.
    void clear_NG_Stop(FlowPart_NG_Stop record);

    QList<FlowPart_NG_Stop> get_ng_stops() const { return ng_stops; }

public slots:
    void slot_Group_DoUnitWorkFinish(FlowUnit_Passport passport) override;
    void slot_Update_Fgs_State() override;

private:
    // A display record with nothing to show, in `language`.
    static FlowWork_DisplayArea unknownDisplay(const QString& language);

    QList<FlowPart_NG_Stop> ng_stops;
};
