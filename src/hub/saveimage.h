#pragma once
// The alarm-image writer: JPEG files that show a detection step's frame with
// its verdict, a text, the defect mask as a red overlay and the outlines of
// the step's regions, under "<root>/detect<step+1>/<NG|OK>/" named
// "<counter, 9 digits at least>_<yyyy-MM-dd_hh.mm.ss>.jpg". Each directory
// keeps fewer files than its limit (gPicNumNG, gPicNumOK); the oldest go
// first.
//
// Threads: the hand-over (save2FailImage, save2MaskCache, save2Roi) and
// addCacheInfo may be called from any thread; drawing, trimming and saving
// run on the writer's own thread. The hand-over copies outside the lock and
// only swaps buffers under it, so a detection never waits for an encode.
#include "inspection/alarmimagesink.h"

#include <QImage>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QVector>
#include <QWaitCondition>

#include <atomic>
#include <memory>

struct SaveImg_CacheInfo {
    QString business_id;  // id of the detection cycle, handed to the picture push
    int reserved = 0;
    int detect = 0;       // detect step 0..3
    int slot = 0;         // cache place 0 or 1
    int ok = 0;           // 1 OK image, 0 NG image
    QString text;         // drawn on the image
};

class SaveFailImageThread : public QThread, public AlarmImageSink {
    Q_OBJECT
public:
    static constexpr int kSteps = 4;
    static constexpr int kSlots = 2;

    // `alarmRoot` is the folder that holds "detect1" ... "detect4" (the
    // directories are created when missing).
    explicit SaveFailImageThread(const QString& alarmRoot, QObject* parent = nullptr);
    // Stops the thread (the program never does; the tests do).
    ~SaveFailImageThread() override;

    void save2FailImage(cv::Mat image, int camera, int detect, bool slot) override;
    void save2MaskCache(cv::Mat mask, int camera, int detect, bool slot) override;
    void save2Roi(QVector<RoiInterface*> rois, int camera, int detect) override;
    // Queues one image and wakes the thread.
    void addCacheInfo(const SaveImg_CacheInfo& info);

    // The number the next image gets; every valid queued item takes one,
    // written or not.
    int counter() const { return m_counter.load(); }
    void setCounter(int value) { m_counter.store(value); }
    // While set, images carry the safety-door line.
    void setSafetyDoor(bool on) { m_safetyDoor.store(on); }

    // The folder of one step and verdict.
    QString directory(int detect, bool ok) const;
    // Draws the image of one item (no file work).
    QImage drawImage(const SaveImg_CacheInfo& info) const;
    // Draws, trims the directory below the limit and saves; false when the
    // limit is 0 or the file could not be written (logged).
    bool saveFile(const QString& path, const SaveImg_CacheInfo& info);
    // True when every queued item has been handled.
    bool idle() const { return m_pending.load() == 0; }
    // Ends the thread after the items already queued.
    void stop();

protected:
    void run() override;

private:
    struct Cache {
        cv::Mat current;  // what the next item of this place draws
        cv::Mat spare;    // the previous buffer, reused by the next hand-over
    };
    void handOver(const cv::Mat& src, Cache& place, int expectedType1, int expectedType2, const char* what);
    static bool validPlace(int camera, int detect);
    void handle(const SaveImg_CacheInfo& info);

    QString m_root;
    mutable QMutex m_mutex;
    QWaitCondition m_wake;
    QVector<SaveImg_CacheInfo> m_queue;
    bool m_stop = false;
    Cache m_image[kSteps][kSlots];
    Cache m_mask[kSteps][kSlots];
    QVector<std::shared_ptr<const RoiInterface>> m_rois[kSteps];
    std::atomic<int> m_counter{100};
    std::atomic<bool> m_safetyDoor{false};
    std::atomic<int> m_pending{0};
};
