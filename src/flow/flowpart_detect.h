#pragma once
// The part of a unit that performs the detection itself. When the unit
// starts, it takes the passport, waits its delay unless the passport asks to
// detect at once, then asks the application for one detection over all
// cameras of the group (Product_Interface::WorkEvent_Standard), records the
// outcome in the receipt and reports the unit finished (sig_part_finish,
// which the unit receives queued).
//
// The re-detect settings travel in the passport's unit state to the work
// event, which does the retries. While the application's detect_exception
// flag is set, every detection marks its cycle for a machine stop.
//
// Times are in ms; negative delay and re-detect interval are stored as 0, so
// the delay timer always fires and the unit always finishes.
//
// JSON: the part envelope plus "redetect_interval", "redetect_times", "delay".
//
// Threads: main thread only. WorkEvent_Standard blocks it until the camera
// group has answered (at most about 10 s); the delay is a single-shot timer.
#include "flow/flowpart_base.h"

#include <QTimer>

class FlowPart_Detect : public FlowPart_Base {
    Q_OBJECT
public:
    explicit FlowPart_Detect(QObject* parent = nullptr);
    ~FlowPart_Detect() override;

    // Keeps the passport with the part's re-detect settings in its unit
    // state, marks the receipt working (stage 0, no result) and reports it,
    // then detects at once or after the delay (a running delay starts over).
    void onStart(FlowUnit_Passport passport) override;
    // The receipt with the remaining delay (0 when no delay runs).
    FlowWork_Receipt getReceipt() const override;
    QJsonObject Serialize_2_Json() const override;
    // Reads "delay", "redetect_interval" and "redetect_times" (0 when absent
    // or not a number). The name is set by the unit.
    void Structure_FromJson(const QJsonObject& obj) override;

    // Ms between re-detections (negative values store 0).
    virtual void set_redetect_interval(int ms);
    virtual int get_redetect_interval() const;
    // Number of re-detections allowed after an NG result.
    virtual void set_redetect_times(int times);
    virtual int get_redetect_times() const;

    // The wait before the detection, in ms (negative values store 0).
    void set_delay_ms(int ms);
    int get_delay_ms() const { return delay_timer.interval(); }
    bool isDelayRunning() const { return delay_timer.isActive(); }

public slots:
    // The detection: the synchronous work event, then the receipt and the
    // finish signal.
    void onStart_Working() override;
    // Emits sig_part_finish with a copy of the receipt.
    void onFinish_Working() override;

signals:
    void sig_part_finish(FlowWork_Receipt receipt);

private:
    int redetect_interval = 0;
    int redetect_times = 0;
    QTimer delay_timer;
};
