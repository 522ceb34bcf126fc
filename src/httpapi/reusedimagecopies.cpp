#include "httpapi/reusedimagecopies.h"

bool ReusedImageCopies::heldOnlyHere(const cv::Mat& buffer)
{
    // The acquire load pairs with the release of the last other holder: its
    // reads of the pixels are over before they are written again.
    return buffer.u && __atomic_load_n(&buffer.u->refcount, __ATOMIC_ACQUIRE) == 1;
}

cv::Mat ReusedImageCopies::copy(const cv::Mat& source)
{
    if (source.empty())
        return cv::Mat();
    size_t spare = m_buffers.size();  // a free buffer of another shape
    for (size_t i = 0; i < m_buffers.size(); ++i) {
        cv::Mat& buffer = m_buffers[i];
        if (!heldOnlyHere(buffer))
            continue;
        if (buffer.size == source.size && buffer.type() == source.type()) {
            source.copyTo(buffer);
            return buffer;
        }
        spare = i;
    }
    cv::Mat fresh = source.clone();
    if (spare < m_buffers.size())
        m_buffers[spare] = fresh;
    else if (m_buffers.size() < m_keep)
        m_buffers.push_back(fresh);
    return fresh;
}
