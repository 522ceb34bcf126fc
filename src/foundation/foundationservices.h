#pragma once
// What the process foundation hands to, or needs from, the subsystems built on
// top of it. The foundation is linked below them, so it names these as small
// value types and interfaces; the later subsystems use or implement them.
#include <QList>
#include <QString>
#include <QStringList>

// One camera of the group as the inspection flow sees it.
struct CameraBaseInfo {
    QString device_id;
    int role = -1;  // 1 main camera, 0 sub camera, -1 not set

    CameraBaseInfo() = default;
    CameraBaseInfo(const QString& id, int r) : device_id(id), role(r) {}
    bool operator==(const CameraBaseInfo& o) const { return device_id == o.device_id && role == o.role; }
};

// The flow's list of the group's cameras, main camera first. A plain value.
class CamDevices_Interface {
public:
    CamDevices_Interface() = default;

    // The device id of every camera, in list order.
    QStringList getAllCamsIDs() const
    {
        QStringList ids;
        for (const CameraBaseInfo& c : m_cameras)
            ids << c.device_id;
        return ids;
    }
    // Replaces the whole list.
    void resetCameraBaseInfos(const QList<CameraBaseInfo>& cameras) { m_cameras = cameras; }
    const QList<CameraBaseInfo>& cameraBaseInfos() const { return m_cameras; }

private:
    QList<CameraBaseInfo> m_cameras;
};

// The operator and system record (RECORD.db), kept by the application hub.
// The hub registers itself with the work information once it exists; until
// then nothing is recorded.
class OperationRecord_Interface {
public:
    virtual ~OperationRecord_Interface() = default;
    // Appends one record of `type` ("system", "operate"). Callable from any
    // thread; must not block the caller (the hub re-posts to its own thread).
    // The entry's user is actingUser() read at this call, on the caller's
    // thread, never later on the writer's own thread.
    virtual void InsertRecord(const QString& text, const QString& type) = 0;

    // The user on whose behalf the calling thread acts: the "User-ID" of the
    // HTTP API request whose handler runs on it (empty: none given, or no
    // request). Each thread has its own.
    static QString actingUser();

    // Makes `user` the calling thread's acting user while it lives, then
    // restores the previous one.
    class ActingUserScope {
    public:
        explicit ActingUserScope(const QString& user);
        ~ActingUserScope();
        ActingUserScope(const ActingUserScope&) = delete;
        ActingUserScope& operator=(const ActingUserScope&) = delete;

    private:
        QString m_previous;
    };
};
