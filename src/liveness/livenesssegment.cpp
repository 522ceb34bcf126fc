#include "liveness/livenesssegment.h"

#include <QSharedMemory>
#include <cstring>

const char* const LivenessSegment::kKey = "_sharememory_2_daemon";

LivenessSegment::LivenessSegment(const QString& key) : m_key(key) {}

bool LivenessSegment::write(const QByteArray& record) const
{
    QSharedMemory segment(m_key);
    if (!segment.attach(QSharedMemory::ReadWrite))
        return false;  // the daemon is not running; the next report tries again
    bool written = false;
    if (segment.lock()) {
        if (segment.size() == kSize) {
            char* data = static_cast<char*>(segment.data());
            std::memset(data, 0, size_t(kSize));
            const int n = qMin(record.size(), kSize - 1);
            std::memcpy(data, record.constData(), size_t(n));
            written = true;
        }
        segment.unlock();
    }
    segment.detach();
    return written;
}

QByteArray LivenessSegment::read(QSharedMemory& segment)
{
    if (!segment.isAttached())
        return QByteArray();
    // Read without the segment's lock: a writer stopped while holding it
    // (the very camera program the reader watches) would hang the reader for
    // good. Two equal copies in a row are a whole record; a record torn by a
    // write in progress reads empty this time.
    const char* data = static_cast<const char*>(segment.constData());
    const int size = segment.size();
    QByteArray previous = textUpToZero(data, size);
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QByteArray again = textUpToZero(data, size);
        if (again == previous)
            return again;
        previous = again;
    }
    return QByteArray();
}

QByteArray LivenessSegment::textUpToZero(const char* data, int size)
{
    if (!data || size <= 0)
        return QByteArray();
    const void* zero = std::memchr(data, 0, size_t(size));
    const int n = zero ? int(static_cast<const char*>(zero) - data) : size;
    return QByteArray(data, n);
}
