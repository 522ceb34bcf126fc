#include "daemon/livenesstracker.h"

#include "platform/system/monotonicclock.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QThread>
#include <QtDebug>


LivenessTracker::LivenessTracker(Options options) : m_options(std::move(options))
{
    QMutexLocker lock(&m_mutex);
    makeSegment(kCreateTries);
    m_lastAttempt = now();
}

LivenessTracker::~LivenessTracker()
{
    QMutexLocker lock(&m_mutex);
    if (m_memory && m_memory->isAttached())
        m_memory->detach();
}

qint64 LivenessTracker::now() const
{
    return m_options.clockMs ? m_options.clockMs() : platform::MonotonicClock::nowMs();
}

QString LivenessTracker::messageOf(int code)
{
    switch (code) {
    case 0:
        return QStringLiteral("OK");
    case -1:
        return QStringLiteral("无法附加到共享内存");
    case -2:
        return QStringLiteral("获取相机运行信息出错");
    case -3:
        return QStringLiteral("相机程序崩溃");
    default:
        return QString();
    }
}

bool LivenessTracker::makeSegment(int tries)
{
    m_memory = std::make_unique<QSharedMemory>(m_options.key);
    for (int attempt = 0; attempt < tries; ++attempt) {
        if (m_memory->create(kSegmentSize, QSharedMemory::ReadOnly))
            return true;
        if (m_memory->error() != QSharedMemory::AlreadyExists) {
            qWarning().noquote() << "[DAEMON] the liveness segment cannot be made:" << m_memory->errorString();
            break;
        }
        // A segment of an earlier run: attaching and detaching again removes
        // it once nobody else holds it.
        if (m_memory->attach(QSharedMemory::ReadWrite)) {
            m_memory->detach();
            if (m_memory->create(kSegmentSize, QSharedMemory::ReadOnly))
                return true;
        }
        if (attempt + 1 < tries)
            QThread::msleep(kCreatePauseMs);
    }
    // Another process still holds the old segment: use it when it has the
    // record's size.
    if (m_memory->attach(QSharedMemory::ReadOnly)) {
        if (m_memory->size() == kSegmentSize) {
            qWarning().noquote() << "[DAEMON] an existing liveness segment is attached: another process holds it";
            return true;
        }
        qWarning().noquote() << "[DAEMON] an existing liveness segment has" << m_memory->size()
                             << "bytes, not" << kSegmentSize << "- not used; tried again every 5 s";
        m_memory->detach();
    } else {
        qWarning().noquote() << "[DAEMON] no liveness segment:" << m_memory->errorString() << "- tried again every 5 s";
    }
    return false;
}

bool LivenessTracker::holdsSegment() const
{
    QMutexLocker lock(&m_mutex);
    return m_memory && m_memory->isAttached();
}

QByteArray LivenessTracker::readText()
{
    if (!m_memory || !m_memory->isAttached())
        return QByteArray();
    // A whole record only; a text that is not one (torn by a write in
    // progress, or a writer stopped mid-write) is no sign of life.
    const QByteArray text = LivenessSegment::read(*m_memory);
    const qint64 t = now();
    const QJsonDocument doc = QJsonDocument::fromJson(text);
    const bool record = doc.isObject() && !doc.object().isEmpty();
    if (!m_seen || (record && text != m_lastText)) {
        m_seen = true;
        m_lastText = text;
        m_changedAt = t;
    }
    return text;
}

void LivenessTracker::tick()
{
    QMutexLocker lock(&m_mutex);
    if (!m_memory || !m_memory->isAttached()) {
        if (now() - m_lastAttempt < kRetryMs)
            return;
        m_lastAttempt = now();
        // One try: the owner's thread also answers discovery.
        if (makeSegment(1))
            qWarning().noquote() << "[DAEMON] the liveness segment is held again";
    }
    readText();
}

LivenessTracker::State LivenessTracker::state()
{
    QMutexLocker lock(&m_mutex);
    State s;
    if (!m_memory || !m_memory->isAttached()) {
        s.code = -1;
    } else {
        const QByteArray text = readText();
        QJsonParseError err{};
        const QJsonDocument doc = QJsonDocument::fromJson(text, &err);
        if (err.error != QJsonParseError::NoError || !doc.isObject() || doc.object().isEmpty()) {
            s.code = -2;
        } else if (now() - m_changedAt > m_options.staleAfterMs) {
            s.code = -3;
        } else {
            s.result = doc.object();
        }
    }
    s.msg = messageOf(s.code);
    return s;
}
