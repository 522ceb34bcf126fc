#pragma once
// Copies of images that the next frame overwrites, made into buffers kept
// from earlier copies once no one else holds them. A fresh 1080p buffer
// costs page faults and zeroed pages on top of the copy itself; a kept one
// costs the copy alone.
//
// Threads: copy() on one thread (the owner's); the copies it returns may be
// held and released on any thread, and a buffer is written again only after
// every such holder released it.
#include <opencv2/core.hpp>

#include <vector>

class ReusedImageCopies {
public:
    // Keeps at most `keep` buffers.
    explicit ReusedImageCopies(size_t keep = 6) : m_keep(keep) {}

    // A continuous deep copy of `source` that shares nothing with it; empty
    // for an empty source.
    cv::Mat copy(const cv::Mat& source);

private:
    static bool heldOnlyHere(const cv::Mat& buffer);

    std::vector<cv::Mat> m_buffers;
    size_t m_keep;
};
