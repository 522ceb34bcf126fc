#pragma once
// A product interface for the flow's tests: it answers every work event with
// a scripted answer and records every call in order, so a test can check what
// the flow asked of the application and when.
#include "flow/product_interface.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

namespace testsupport {

class TestProductInterface : public Product_Interface {
public:
    explicit TestProductInterface(QObject* parent = nullptr) : Product_Interface(parent) {}

    // The answer of every work event, unless `onWorkEvent` is set.
    FlowWork_WorkEvent_Back answer;
    // Computes the answer from the passport (and may act, e.g. set
    // detect_exception, as the application does).
    std::function<FlowWork_WorkEvent_Back(const FlowUnit_Passport&)> onWorkEvent;

    // Every call by operation name, in call order.
    QStringList calls;
    QList<FlowUnit_Passport> workEvents;
    int cycleRecords = 0;
    QList<int> failImages;
    QList<FlowUnit_Passport> runResults;
    QList<QJsonObject> detectInfos;
    QList<QMap<QString, SCollect_Unit>> detectEnds;
    QList<int> trainVars;

    // An OK (result 1) or NG (0) answer of a work event that ran, with one
    // unit per camera id carrying the same result.
    static FlowWork_WorkEvent_Back makeAnswer(int result, const QStringList& cameras = {})
    {
        FlowWork_WorkEvent_Back back;
        back.work_error = 0;
        back.result = result;
        for (const QString& id : cameras) {
            SCollect_Unit unit;
            unit.is_valid = true;
            unit.result = result == 1;
            unit.calculate_time = 5;
            unit.calculate_times = 1;
            back.collectlist.insert(id, unit);
        }
        return back;
    }

    FlowWork_WorkEvent_Back WorkEvent_Standard(FlowUnit_Passport passport) override
    {
        calls << QStringLiteral("WorkEvent_Standard");
        workEvents << passport;
        return onWorkEvent ? onWorkEvent(passport) : answer;
    }
    void Statistics_updateCycleRecord() override
    {
        calls << QStringLiteral("Statistics_updateCycleRecord");
        ++cycleRecords;
    }
    void saveFailImage_OnNGNoStop(int detect_index) override
    {
        calls << QStringLiteral("saveFailImage_OnNGNoStop");
        failImages << detect_index;
    }
    void PushMsg2APP_OnFinishUnitWork_RunResult(FlowUnit_Passport passport) override
    {
        calls << QStringLiteral("PushMsg2APP_OnFinishUnitWork_RunResult");
        runResults << passport;
    }
    void PushMsg2Subscriber_DetectInfoOnce(const QJsonObject& info) override
    {
        calls << QStringLiteral("PushMsg2Subscriber_DetectInfoOnce");
        detectInfos << info;
    }
    void Statistics_insertOnceDetectend(QMap<QString, SCollect_Unit> collects) override
    {
        calls << QStringLiteral("Statistics_insertOnceDetectend");
        detectEnds << collects;
    }
    void WorkRX_RunTrain_Var(int detect_index) override
    {
        calls << QStringLiteral("WorkRX_RunTrain_Var");
        trainVars << detect_index;
    }
};

}  // namespace testsupport
