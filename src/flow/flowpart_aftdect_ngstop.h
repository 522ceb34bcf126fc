#pragma once
// The after-detect part that holds the machine on an NG result. It sets no
// output: it marks the cycle's receipt with rcpt_ngstop and hands the receipt
// to its unit (sig_update_unit_receipt); the group then records an NG stop
// (FlowPart_NG_Stop) and stays in run state 2 until the same detect position
// reports OK.
//
// JSON: the after-detect part's object with "name" = its description;
// nothing is read back, so a loaded part keeps its constructed state.
//
// Threads: main thread only.
#include "flow/flowpart_afterdetect.h"

class FlowUnit_Base;

class FlowPart_AftDect_NGStop : public FlowPart_AfterDetect {
    Q_OBJECT
public:
    // `unit` is the QObject parent; it may be null.
    explicit FlowPart_AftDect_NGStop(FlowUnit_Base* unit);
    ~FlowPart_AftDect_NGStop() override;

    QJsonObject Serialize_2_Json() const override;
    // Reads nothing.
    void Structure_FromJson(const QJsonObject& obj) override;

public slots:
    // Sets rcpt_ngstop in the kept passport's receipt and reports the
    // receipt. Neither the enable flag nor the classification is consulted:
    // the unit decides which after-detect parts run.
    void onStart_Working() override;
};
