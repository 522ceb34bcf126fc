#pragma once
// The shared-memory segment that carries the liveness record from the camera
// program to the monitor daemon. The daemon creates the segment; the camera
// program only writes into one that exists and has exactly `kSize` bytes.
// Content: one compact JSON object in UTF-8, followed by zero bytes up to the
// end of the segment (at least one). Both sides take the segment's system
// lock around their access. The key is a constructor argument so tests can
// use a private segment.
#include <QByteArray>
#include <QString>

class QSharedMemory;

class LivenessSegment {
public:
    static const char* const kKey;  // "_sharememory_2_daemon"
    static constexpr int kSize = 1024;

    explicit LivenessSegment(const QString& key = QString::fromLatin1(kKey));

    const QString& key() const { return m_key; }

    // Writer side (camera program): attaches, locks, fills the segment with
    // zero bytes and copies `record` into it (at most kSize - 1 bytes, so a
    // zero byte always ends it), unlocks and detaches. Returns false, writing
    // nothing, when there is no segment or it is not exactly kSize bytes.
    bool write(const QByteArray& record) const;

    // Reader side (daemon): the text of an attached segment up to its first
    // zero byte, without the lock (a stopped writer must not hang the reader):
    // two equal copies in a row, else empty. Empty when not attached.
    static QByteArray read(QSharedMemory& segment);

    // The text of `size` bytes up to the first zero byte (all of them when
    // none is zero). Pure; the readers above use it.
    static QByteArray textUpToZero(const char* data, int size);

private:
    QString m_key;
};
