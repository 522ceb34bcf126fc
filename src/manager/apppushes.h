#pragma once
// What the camera pushes on its own initiative: the run-state report (the
// heartbeat's body and the stash the HTTP API serves), the run result and its
// NG mask, the camera parameters, the template list and the live snapshot to
// the operator application, and alarm pictures and detection summaries to
// the subscribers.
//
// Forms for the application leave through the two signals, which the
// manager connects queued to the result publisher; subscriber posts go to
// the publisher's post queue. Nothing here waits for another thread.
//
// Threads: the pushes run on the caller's thread; the region stash and the
// snapshot state have their own locks. Only the thread that created the
// object (the manager's) stamps the refresh liveness.
#include "net/ctask_formdata.h"

#include <QFuture>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QNetworkRequest>
#include <QObject>
#include <QPair>
#include <QString>

#include <atomic>
#include <functional>

class PushSources;
class TM_ZRP_Publish;

class AppPushes : public QObject {
    Q_OBJECT
public:
    static constexpr int kDetailLifetimeS = 10;
    static constexpr qint64 kRefreshAliveMs = 2000;

    // `sources` and `publisher` must outlive the pushes.
    AppPushes(PushSources* sources, TM_ZRP_Publish* publisher, QObject* parent = nullptr);
    ~AppPushes() override;

    // Test hooks: where subscriber posts go (default: the publisher's post
    // queue) and the monotonic clock of the refresh liveness.
    using PostOnce = std::function<void(const QNetworkRequest&, const QByteArray&)>;
    void setPostOnce(PostOnce post) { m_postOnce = std::move(post); }
    void setMonotonicClock(std::function<qint64()> clock) { m_clock = std::move(clock); }
    // How a snapshot is encoded (default: JPEG at the default quality); runs
    // on a pool thread; an empty result counts as a failure.
    using SnapshotEncoder = std::function<QByteArray(const QImage&)>;
    void setSnapshotEncoder(SnapshotEncoder encoder) { m_encoder = std::move(encoder); }

    // The run-state report: the hub's run state plus "betaken_appip" and
    // "package_index"; with push2app it becomes the publisher's stash.
    QJsonObject update_stash_runstate_json(bool push2app);
    // True when the owner thread refreshed the report within the last 2 s
    // (monotonic clock, so a clock step cannot fake it).
    bool refreshAlive() const;

    void async_back2longtcp_runresult(const QString& uuid, bool fresh_rois);
    void async_back2longtcp_defaultparam(const QString& uuid);
    void async_back2longtcp_resample(const QString& uuid);
    // Main camera only. Copies the frame (gImageW x gImageH) on the calling
    // thread, so the caller may reuse its buffer at once, and encodes it on
    // the global thread pool without waiting for it.
    void post2app_main_snapshot(const uchar* frame);
    // The last snapshot's JPEG bytes.
    QByteArray lastSnapshot() const;
    // Whether a snapshot is being encoded.
    bool snapshotBusy() const;

    // Posts the alarm picture at `path` to the picture subscribers.
    void PushMsg2Subscriber_PictureResult(int detect, bool ok, const QString& path, const QString& business_id);
    // Posts a detection summary to the "result_reports" subscribers (main
    // camera only) and keeps it as the publisher's last summary.
    void PushMsg2Subscriber_DetectInfoOnce(const QJsonObject& info);

    // The subscribers whose topics hold any of `topics`, as (address, port),
    // each pair once: two listeners on one address are two targets.
    QList<QPair<QString, int>> subscriberTargets(const QStringList& topics) const;

signals:
    void sig_Publish_Detail(const CTask_FormData& formdata, int deadline);
    void sig_Publish_Snapshot(const CTask_FormData& formdata);

private:
    // The taken application's address, or empty (no detail push then).
    static QString takenApp();
    CTask_FormData detailForm(const QString& url, const QString& uuid) const;
    // A JSON form to the taken application, after refreshing the report;
    // nothing without a taken application.
    void pushToTaker(const QString& url, const QString& uuid, const QJsonObject& body);
    void post(const QString& url, const QMap<QString, QString>& query, const QByteArray& contentType,
              const QString& userAgent, const QByteArray& body);

    PushSources* m_sources;
    TM_ZRP_Publish* m_publisher;
    PostOnce m_postOnce;
    SnapshotEncoder m_encoder;
    std::function<qint64()> m_clock;
    std::atomic<qint64> m_lastRefreshMs;
    std::atomic<int> m_packageIndex{0};

    mutable QMutex m_roisMutex;
    QList<QJsonArray> m_roisStash;  // at most one array

    QMutex m_snapshotStateMutex;    // the two below
    QString m_snapshotApp;
    int m_snapshotCalls = 0;
    QFuture<void> m_snapshotTask;   // under m_snapshotStateMutex
    mutable QMutex m_snapshotMutex;
    QByteArray m_lastSnapshot;
};
