#pragma once
// Writes one CTask_FormData as HTTP/1.1 bytes on a connected TCP socket.
//
// The package kind of the form picks the body: JSON (requests carry the bare
// object, responses the envelope {"code","msg","result"}), multipart of mixed
// parts, multipart of raw 8-bit images (an "{key}-info" part and the pixel
// bytes), a file, a byte stream, or nothing. Multipart delimiter and closing
// line are both the bare boundary text, without any "--".
//
// Threads: SerializeWrite runs on the thread that owns the socket (the
// session's). compose() is a pure function of the form and the peer.
#include "net/ctask_formdata.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>

class QTcpSocket;

class SCI_ExecObj_Send {
public:
    static const QByteArray kBoundary;  // "------------------------tcpservreactor"
    static constexpr int kFileChunk = 65536;
    static constexpr int kFixLandChunk = 65536;
    static constexpr int kFixLandGuardMs = 10000;

    // The whole message apart from a file body: head and body pieces in
    // writing order. A kind-3 form naming a readable file gets its head here
    // and `filePath` / `fileSize`; its body is streamed by SerializeWrite.
    struct Wire {
        QList<QByteArray> pieces;
        QString filePath;
        qint64 fileSize = -1;
        QByteArray joined() const;
    };

    SCI_ExecObj_Send() = default;  // for the meta-type system
    // Copies the form; an empty uuid becomes "vistrel#<time>#<counter>".
    explicit SCI_ExecObj_Send(const CTask_FormData& form);

    // Writes the whole message; nothing when the socket is null or not
    // connected. A file body is streamed in chunks while a local event loop
    // runs; the peer must make progress at least every fileGuardMs(), else
    // the connection is closed (the peer never sees a short body as complete).
    // Returns false when the message could not be written whole.
    bool SerializeWrite(QTcpSocket* socket);

    // The message for a peer (address text, port); changes the own copy of
    // the form (uuid, content_type, code, msg) as sending does.
    Wire compose(const QString& peerAddress, quint16 peerPort);

    // Carried chunked writer with a 10 s guard; no layout calls it.
    bool SendFixLand(const QByteArray& data);

    const CTask_FormData& formData() const { return form; }
    qint64 createTime() const { return create_time; }

    // Test hook: the stall guard of a file send (30000 ms by default).
    static void setFileGuardMs(int ms);
    static int fileGuardMs();

private:
    void Integrality_Json(Wire& w, const QByteArray& headStart);
    void Integrality_Empty(Wire& w, const QByteArray& headStart);
    void Integrality_Multi(Wire& w, const QByteArray& headStart);
    void Integrality_Mat(Wire& w, const QByteArray& headStart);
    bool Integrality_File(Wire& w, const QByteArray& headStart, const QString& path);
    void Integrality_BinaryStream(Wire& w, const QByteArray& headStart);
    // The head lines from "Content-Type" (or "Device-ID" when `withType` is
    // false) on, then the blank line.
    QByteArray headTail(qint64 contentLength, bool withType, const QString& type) const;
    bool streamFile(QTcpSocket* socket, const Wire& w);

    qint64 create_time = 0;
    CTask_FormData form;
    QTcpSocket* socket = nullptr;
    QList<cv::Mat> m_keep;  // continuous copies whose pixels the pieces point into
};

Q_DECLARE_METATYPE(SCI_ExecObj_Send)
