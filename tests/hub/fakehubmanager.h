#pragma once
// A recording application manager for the hub's tests: every call in order,
// scripted statistics and run description, a real product interface for the
// data-lost flag. Published as HubManager::instance() while it lives.
#include "hub/hubmanager.h"
#include "support/testproductinterface.h"

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QThread>

namespace hubtest {

class FakeFlow : public HubFlow {
public:
    void setStartOrStop(bool start) override
    {
        QMutexLocker lock(&mutex);
        calls << (start ? QStringLiteral("start") : QStringLiteral("stop"));
    }
    FlowGroup_State get_RunDescribe() override
    {
        QMutexLocker lock(&mutex);
        describeThreads << QThread::currentThread();
        return state;
    }
    QStringList takeCalls()
    {
        QMutexLocker lock(&mutex);
        QStringList c = calls;
        calls.clear();
        return c;
    }

    QMutex mutex;
    FlowGroup_State state;
    QStringList calls;
    QList<QThread*> describeThreads;
};

class FakeHubManager : public HubManager {
public:
    FakeHubManager() { HubManager::setInstance(this); }
    ~FakeHubManager() override
    {
        if (HubManager::instance() == this)
            HubManager::setInstance(nullptr);
    }

    void post2app_main_snapshot(const cv::Mat& frame) override
    {
        calls << QStringLiteral("post2app_main_snapshot");
        snapshots << frame.clone();
    }
    void async_back2longtcp_defaultparam(const QString& arg) override
    {
        calls << QStringLiteral("async_back2longtcp_defaultparam:") + arg;
    }
    QVariantMap stat_getCur(int camera) override
    {
        QMutexLocker lock(&flow.mutex);
        statCameras << camera;
        return stats;
    }
    HubFlow* flowManager() override { return withFlow ? &flow : nullptr; }
    Product_Interface* productInterface() override { return &product; }

    QStringList calls;
    QList<cv::Mat> snapshots;
    QVariantMap stats;
    QList<int> statCameras;
    bool withFlow = true;
    FakeFlow flow;
    testsupport::TestProductInterface product;
};

}  // namespace hubtest
