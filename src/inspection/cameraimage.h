#pragma once
// The per-camera frame and template store.
//
// Buffers (allocated once by initImage, reused for every frame):
//   raw frame   the frame as the capture side delivers it: NV12, that is
//               YUV 4:2:0 with the luma plane then one plane of interleaved
//               chroma pairs, (int)(gImageLen x 1.5) bytes; the hub copies
//               the shared capture buffer into it under pMutex;
//   working     the raw frame converted by updateImageData: grey (1 byte a
//               pixel) or, in colour mode, R,G,B,A (4 bytes a pixel);
//   snapshot    the working image as a detection step runs on it
//               (updateShapeImage); new templates, NG images and alarm
//               images are taken from it, never from the working image;
//   RGBA        the snapshot as 4-byte pixels for the alarm-image writer.
// The "NV12"-tagged buffer is converted with OpenCV's YUV2RGBA_NV21, which
// reads each chroma pair as V,U: that is the byte order the capture side
// delivers.
//
// Templates: per detection step d (from 0), BMP files "./cammer1<d+1>/
// templateNN.bmp" (two-digit number, relative to the working directory),
// 8-bit with a grey colour table in grey mode, 32-bit in colour mode, kept in
// memory as one record per file. "template00.bmp" is the step's master: it
// comes first, deleting it gives the next template its name, trimming never
// removes the first template, and a step without any usable file gets a
// generated one (black, with a white centred rectangle of half the frame's
// width and height). Template numbers are reused from the lowest free one; a
// step keeps at most "h_temp_count" templates (a process parameter).
//
// A template file that cannot be used (unreadable, or of another size or
// depth than the frame) is never deleted: it is renamed out of the
// "template*.bmp" pattern with the suffix ".unreadable" and logged. Every
// file removal, rename and save is checked; when one fails the operation
// stops where memory and disk still agree and answers false.
//
// NG images: per step, the last 3 snapshots of NG detections, oldest first.
//
// Matrices handed out share their pixels with the store's buffers (no copy);
// a template's bytes stay alive while any matrix of them is held, even after
// the template was deleted.
//
// No lock: the hub, the sequencer and the regions run the store's operations
// one at a time.
#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <vector>

#include <opencv2/core.hpp>

#include <atomic>

class CameraSingleton;
class QFileInfo;

// Bytes of one converted image: gImageLen in grey mode, gImageLen x 4 in
// colour mode; set by CameraImage::initImage.
extern int32_t gColorLen;

// One template.
struct stuCameraImage {
    cv::Mat image;  // gImageH x gImageW, the store's channel count; owns its bytes
    int len = 0;    // gColorLen
    QString name;   // "templateNN.bmp"
    QString time;   // the file's modification time, "yyyy-MM-dd hh:mm:ss"
};

// OpenCV matrix to Qt image, as a deep copy (so the image never outlives the
// matrix's bytes): 8-bit 3 channels (B,G,R) -> RGB888; 4 channels -> ARGB32
// over the bytes as 32-bit pixels; 1 channel -> Grayscale8; anything else ->
// a null image.
QImage Mat2QImage(cv::Mat mat);
// Qt image to OpenCV matrix, as a deep copy: Indexed8 and Grayscale8 -> 8-bit
// 1 channel (the indices); RGB32, ARGB32 and premultiplied ARGB32 -> 8-bit 4
// channels (the 32-bit pixels' bytes); RGB888 -> 8-bit 3 channels in B,G,R
// order; anything else -> an empty matrix.
cv::Mat QImage2cvMat(QImage image);

// A pixel format tag: four ASCII letters in memory order.
constexpr uint32_t pixelFormatTag(char a, char b, char c, char d)
{
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

class CameraImage {
public:
    static constexpr uint32_t kFormatNV12 = pixelFormatTag('N', 'V', '1', '2');
    static constexpr int kMaxNgImages = 3;

    // store: the camera's parameter store (not owned): colour mode, ignore
    // masks and regions for the alarm-image hand-over.
    explicit CameraImage(CameraSingleton* store);
    ~CameraImage();
    CameraImage(const CameraImage&) = delete;
    CameraImage& operator=(const CameraImage&) = delete;

    // Allocates the buffers for the current frame geometry and loads the
    // templates and NG lists. The colour mode is the parameter store's
    // "c_colorrepmono"; the second form fixes it (tools and tests).
    void initImage();
    void initImage(bool colour);
    bool isColour() const { return m_channels == 4; }
    int channels() const { return m_channels; }

    // --- frames ----------------------------------------------------------------
    // The raw frame buffer the hub copies the capture buffer into, and its
    // length ((int)(gImageLen x 1.5)); null / 0 before initImage.
    uint8_t* rawBuffer() { return m_raw.empty() ? nullptr : m_raw.data; }
    int rawBufferLength() const { return int(m_raw.total() * m_raw.elemSize()); }
    // Bytes of one raw frame: (int)(gImageLen x 1.5) with the "NV12" tag,
    // else gImageLen.
    int getImageDataLen() const;
    uint32_t pixelFormat() const { return m_format; }
    // Any tag other than "NV12" makes the raw buffer one 8-bit grey plane.
    void setPixelFormat(uint32_t tag) { m_format = tag; }
    // Converts the raw frame into the working image.
    void updateImageData();
    // Copies the working image into the snapshot.
    void updateShapeImage();
    // The snapshot (the run image of detections).
    cv::Mat getShpaeImage() const { return m_shape; }
    // The working image (the latest converted frame).
    cv::Mat getWorkImage() const { return m_work; }
    // Counts the changes of the working image (each converted frame, each
    // new buffer): equal counts, equal pixels. Any thread.
    quint64 workGeneration() const { return m_workGeneration.load(std::memory_order_acquire); }

    // --- templates --------------------------------------------------------------
    // The index-th template of the step; empty (logged) for an index or step
    // outside the lists.
    cv::Mat getTemplateData(int detect, int index) const;
    // The template of that name; empty (logged) when there is none.
    cv::Mat getTemplateData(int detect, const QString& name) const;
    // "template00.bmp" of the step.
    cv::Mat getFirstTemplate(int detect) const;
    // The template named by the current template name.
    cv::Mat getCurTemplate(int detect) const;
    void updateCurTemplateName(const QString& name) { m_curTemplateName = name; }
    QString curTemplateName() const { return m_curTemplateName; }
    bool hasTemplate(int detect, const QString& name) const;

    QStringList getTemplateNamelist(int detect) const;
    QStringList getTemplateTimelist(int detect) const;
    // Templates of the step; 0 for a step outside the lists.
    int getTemplateCount(int detect) const;
    // Number of steps with template lists.
    int stepCount() const { return int(m_templates.size()); }
    // The lowest template number 0 ... "h_temp_count" - 1 no template of the
    // step uses; -1 when there is none.
    int getTemplateAvailableIndex(int detect) const;
    // Trims the step to "h_temp_count" templates (one less when adding),
    // removing the second template (and its file) while there are more and
    // at least 2. False when a file could not be removed.
    bool checkTemplateCount(int detect, bool adding);
    // Stores the snapshot (or the step's NG image ngIndex) as a new template
    // under the lowest free number, file first; the step is trimmed first to
    // make room. Refused when "h_temp_count" is below 2 (there would be no
    // room beside the master) or the source does not exist, before anything
    // is trimmed. True when the template was stored.
    bool addTemplate(int detect);
    bool addTemplateFromNG(int detect, int ngIndex);
    // Removes the template(s) of that name with their files; never the last
    // template of the step. Deleting "template00.bmp" makes the next template
    // the master (file renamed). True when something was removed.
    bool deleteTemplate(int detect, const QString& name);
    // The same by list position.
    bool deleteTemplate(int detect, int index);
    // Removes every template but the last, which becomes "template00.bmp".
    bool deleteAllTemplate(int detect, bool unused = false);
    // Drops every template from memory (files stay).
    void clearTemplate();
    // Loads the templates of steps 0 ... gDNum - 1 from disk.
    void createTemplate();

    // --- NG images ----------------------------------------------------------------
    // Keeps a copy of the snapshot as the step's newest NG image (at most 3).
    bool addNGImage(int detect);
    void clearNgImage();
    // One empty NG list per step in use.
    void createNgImage();
    int getNgCount(int detect) const;
    cv::Mat getNgImage(int detect, int index) const;

    // clearTemplate, createTemplate, clearNgImage, createNgImage.
    void reload_Dynamic_ImageSpace();

    // Converts the raw frame, takes it as the snapshot and writes it over the
    // step's first template (file first, then memory). False when there is
    // nothing to replace or the file cannot be written.
    bool SaveReTrainImage(int detect);

    // Hands the snapshot (RGBA in colour mode, grey otherwise), the inverted
    // ignore mask of the step and the step's regions to the alarm-image
    // writer.
    void SaveImageMem(int detect, bool ng);

    // "templateNN.bmp".
    static QString templateName(int number);
    // "./cammer1<detect+1>/<name>".
    static QString templatePath(int detect, const QString& name);
    static QString templateDir(int detect);

private:
    bool checkDetect(int detect) const;
    // "h_temp_count", or -1 when the process parameters do not hold it.
    static int maxTemplateCount();
    cv::Mat newImage() const;
    int indexOf(int detect, const QString& name) const;
    // Writes the image as the step's file of that name (atomically); false
    // (logged) on failure, the previous file then unchanged.
    bool writeTemplateFile(const QString& path, const cv::Mat& image) const;
    // Removes a template file; true when it is gone (or was not there).
    static bool removeTemplateFile(const QString& path);
    // Renames a file that cannot be used out of the template pattern.
    static void setAside(const QString& path, const QString& why);
    // Reads one file as a template record; false (why set) when unusable.
    bool readTemplateFile(const QFileInfo& file, stuCameraImage& record, QString& why) const;
    stuCameraImage makeDefaultTemplate(int detect) const;
    // Makes the record the step's master: its file becomes
    // "template00.bmp" (written from memory when it was missing).
    bool makeMaster(int detect, stuCameraImage& record) const;
    // Removes the record at position index (file first).
    bool removeRecord(int detect, int index);
    bool storeTemplate(int detect, const cv::Mat& source);
    static QString fileTime(const QString& path);

    uint32_t m_format = 0;
    QString m_curTemplateName;
    std::vector<std::deque<cv::Mat>> m_ngImages;
    cv::Mat m_raw;    // one row of (int)(gImageLen x 1.5) bytes
    cv::Mat m_rgba;   // gImageH x gImageW, 8-bit 4 channels
    cv::Mat m_work;   // gImageH x gImageW, m_channels
    std::atomic<quint64> m_workGeneration{0};
    cv::Mat m_shape;  // gImageH x gImageW, m_channels
    std::vector<std::vector<stuCameraImage>> m_templates;
    CameraSingleton* m_store;
    int m_channels = 1;
};
