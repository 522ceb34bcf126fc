#pragma once
// A camera's work seam for tests: records every call (with the thread it ran
// on) and answers detections from a script of results and durations.
#include "foundation/foundationservices.h"
#include "group/groupworkservices.h"

#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QStringList>
#include <QThread>

namespace testsupport {

class FakeGroupServices : public GroupWorkServices {
public:
    // Detection results in order; once used up every detection is OK.
    void scriptResults(const QList<bool>& results)
    {
        QMutexLocker l(&m_mutex);
        m_results = results;
    }
    // How long each detection takes (really slept) and reports.
    void setDetectionMs(int ms)
    {
        QMutexLocker l(&m_mutex);
        m_detectMs = ms;
    }
    void setRecheckOnlyNg(bool on) { QMutexLocker l(&m_mutex); m_recheck = on; }
    void setTempCount(int n) { QMutexLocker l(&m_mutex); m_tempCount = n; }

    QStringList calls() const { QMutexLocker l(&m_mutex); return m_calls; }
    int count(const QString& prefix) const
    {
        int n = 0;
        for (const QString& c : calls())
            n += c.startsWith(prefix) ? 1 : 0;
        return n;
    }
    // The operator each call was made for (the calling thread's acting
    // user), in call order.
    QStringList callUsers() const { QMutexLocker l(&m_mutex); return m_users; }
    // The threads the calls ran on.
    QSet<QThread*> callThreads() const { QMutexLocker l(&m_mutex); return m_threads; }

    void RunAlgorithm_New(int i, SCollect_Unit& u) override
    {
        int ms;
        bool ok = true;
        {
            QMutexLocker l(&m_mutex);
            ms = m_detectMs;
            if (!m_results.isEmpty())
                ok = m_results.takeFirst();
        }
        if (ms > 0)
            QThread::msleep(static_cast<unsigned long>(ms));
        u.is_valid = true;
        u.detect = i;
        u.result = ok;
        u.calculate_time = ms > 0 ? ms : 5;
        u.calculate_times += 1;
        record(QStringLiteral("RunAlgorithm_New(%1)").arg(i));
    }
    void RunTrain_New(int i, SCollect_Unit& u) override
    {
        u.detect = i;
        u.result = true;
        u.calculate_time = 7;
        record(QStringLiteral("RunTrain_New(%1)").arg(i));
    }
    void RunTrain_Var(int i) override { record(QStringLiteral("RunTrain_Var(%1)").arg(i)); }
    void Update_MemNGLook(int i) override { record(QStringLiteral("Update_MemNGLook(%1)").arg(i)); }
    void SaveImageFile(int i, int kind, const QString& text) override
    {
        record(QStringLiteral("SaveImageFile(%1,%2,%3)").arg(i).arg(kind).arg(text));
    }
    void ResetRun() override { record(QStringLiteral("ResetRun")); }
    void AddTemplate(int step) override { record(QStringLiteral("AddTemplate(%1)").arg(step)); }
    void SlotTempDeleteAll(const QList<int>& steps) override
    {
        QStringList s;
        for (int i : steps)
            s << QString::number(i);
        record(QStringLiteral("SlotTempDeleteAll(%1)").arg(s.join(QLatin1Char(','))));
    }
    bool h_is_recheck_only_ng_camera() const override { QMutexLocker l(&m_mutex); return m_recheck; }
    int h_temp_count() const override { QMutexLocker l(&m_mutex); return m_tempCount; }

    void setShownUnitIndex(int i) override { record(QStringLiteral("setShownUnitIndex(%1)").arg(i)); }
    void async_back2longtcp_runresult(const QString& uuid, bool fresh) override
    {
        record(QStringLiteral("async_back2longtcp_runresult(%1,%2)").arg(uuid).arg(fresh ? "true" : "false"));
    }
    void stat_SaveCur(const QVariantMap& map) override
    {
        record(QStringLiteral("stat_SaveCur(%1)")
                   .arg(QString::fromUtf8(QJsonDocument::fromVariant(map).toJson(QJsonDocument::Compact))));
    }
    void Api_regiest_subscriber(const QJsonObject& obj) override
    {
        record(QStringLiteral("Api_regiest_subscriber(%1)")
                   .arg(QString::fromUtf8(QJsonDocument(obj).toJson(QJsonDocument::Compact))));
    }

private:
    void record(const QString& call)
    {
        QMutexLocker l(&m_mutex);
        m_calls << call;
        m_users << OperationRecord_Interface::actingUser();
        m_threads.insert(QThread::currentThread());
    }

    mutable QMutex m_mutex;
    QList<bool> m_results;
    int m_detectMs = 0;
    bool m_recheck = false;
    int m_tempCount = 1;
    QStringList m_calls;
    QStringList m_users;
    QSet<QThread*> m_threads;
};

}  // namespace testsupport
