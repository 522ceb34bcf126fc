#pragma once
// Holds the shared-memory segment into which the camera program writes its
// liveness record, and tells from it whether the camera program is alive.
//
// Alive means: the record's text changed within the last 40 s, measured on
// the monotonic clock. The segment is read once a second (tick()) and on
// every request (state()); whenever its text differs from the last one seen
// the change is stamped. The record's own "ms_1000" (wall clock, stepped by
// the camera) is not used for the age.
//
// The segment is made at construction: at most 50 tries 100 ms apart, each
// removing a segment left by an earlier run once nobody holds it. When
// another process keeps holding an old segment, an existing segment of
// exactly the record size is attached instead; otherwise the tracker holds
// none, answers -1 and tries again every 5 s (tick()).
//
// Threads: thread-safe; tick() runs on the owner's thread, state() on the
// HTTP thread.
#include "liveness/livenesssegment.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QMutex>
#include <QSharedMemory>
#include <QString>

#include <functional>
#include <memory>

class LivenessTracker {
public:
    static constexpr int kSegmentSize = LivenessSegment::kSize;
    static constexpr qint64 kStaleAfterMs = 40000;
    static constexpr int kCreateTries = 50;
    static constexpr int kCreatePauseMs = 100;
    static constexpr qint64 kRetryMs = 5000;

    struct Options {
        QString key = QString::fromLatin1(LivenessSegment::kKey);
        qint64 staleAfterMs = kStaleAfterMs;
        std::function<qint64()> clockMs;  // monotonic milliseconds; the platform clock when empty
    };

    // The answer to one liveness question.
    struct State {
        int code = 0;          // 0 alive, -1 no segment, -2 unreadable record, -3 stale
        QString msg;
        QJsonObject result;    // the record, when alive
    };

    explicit LivenessTracker(Options options);
    ~LivenessTracker();

    // Reads the segment (and, without one, retries making it when due).
    void tick();
    // Reads the segment and answers.
    State state();
    bool holdsSegment() const;

    static QString messageOf(int code);

private:
    bool makeSegment(int tries);  // the bounded creation loop; under m_mutex
    QByteArray readText();  // under m_mutex
    qint64 now() const;

    Options m_options;
    mutable QMutex m_mutex;
    std::unique_ptr<QSharedMemory> m_memory;
    QByteArray m_lastText;
    qint64 m_changedAt = 0;
    bool m_seen = false;
    qint64 m_lastAttempt = 0;
};
