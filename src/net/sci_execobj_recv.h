#pragma once
// Reading of the own HTTP/1.1 layer: a pure function that cuts one message
// off a byte stream (incomplete / bad with why / complete), and the decoder
// SCI_ExecObj_Recv that turns a head and body into a CTask_FormData.
//
// Limits: a head of at most kMaxHead bytes and a body of at most kMaxBody
// bytes; a Content-Length that is negative or not a number is bad. Bodies are
// delimited by Content-Length alone (no chunked transfer, no keep-alive
// semantics, no percent-decoding).
#include "net/ctask_formdata.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

// One message cut off the front of a byte stream.
struct HttpCut {
    enum Kind { Incomplete, Bad, Complete };
    Kind kind = Incomplete;
    QString why;        // Bad: what was wrong
    int used = 0;       // Complete: bytes the message took (garbage before it included)
    QByteArray head;    // head complete: the head from its start line on, without the blank line
    QByteArray body;    // Complete: exactly Content-Length bytes
    int contentLength = 0;
    bool headComplete = false;  // Incomplete: the head is in, the body is still short
    bool isRequest = false;     // head seen: the start line is not a status line
    bool fatal = false;         // Bad: the stream cannot be read on (else skip `used` bytes)
};

namespace httpread {
constexpr int kMaxHead = 64 * 1024;
constexpr int kMaxBody = 20971520;

// Cuts the first message off `stream`. Lines before the start line (a line
// holding "HTTP/1.1") are skipped. Bad and fatal (a limit broken, a bad
// Content-Length): the caller closes the connection. Bad and not fatal (a
// head without a start line): the caller drops `used` bytes and reads on.
HttpCut cut(const QByteArray& stream);

// The value of Content-Length in a head; 0 when absent; -1 when it is not a
// decimal number of at most kMaxBody (negative, non-numeric, too large).
qint64 contentLengthOf(const QByteArray& head, bool* present = nullptr);
}  // namespace httpread

// Outcome of decoding one whole message.
struct HttpRead {
    HttpCut cut;
    bool decoded = false;   // Complete and decodable
    CTask_FormData form;    // when decoded
};

// Cuts and decodes the first message of `stream` in one go (tests, fuzzing).
HttpRead readHttpMessage(const QByteArray& stream, int sessionIndex = -1);

class SCI_ExecObj_Recv_Base {
public:
    virtual ~SCI_ExecObj_Recv_Base() = default;
    virtual void addBody(const QByteArray& bytes) { body += bytes; }
    virtual QByteArray showBody() const { return body; }
    virtual QString showHead() const { return head; }
    virtual int getNeedLength() const = 0;
    virtual bool analysisIntegrality() = 0;
    virtual CTask_FormData getFormData() const = 0;

protected:
    int session_index = -1;
    QString head;
    QByteArray body;
};

class SCI_ExecObj_Recv : public SCI_ExecObj_Recv_Base {
public:
    SCI_ExecObj_Recv(const QByteArray& head, int sessionIndex);

    void setDuplex_Info(const QHostAddress& address, quint16 port);
    int getNeedLength() const override;
    // True when the body is complete and decoded into the form.
    bool analysisIntegrality() override;
    CTask_FormData getFormData() const override { return form; }

    QString method() const { return head_method; }
    QString url() const { return head_url; }
    int contentLength() const { return content_length; }

    static bool analysisIntegrality_json(const QByteArray& body, CTask_FormData& form);
    static bool analysisIntegrality_multipart(const QByteArray& boundary, const QByteArray& body,
                                              CTask_FormData& form);
    static bool analysisIntegrality_file(const QByteArray& body, CTask_FormData& form);
    static bool analysisIntegrality_Default(const QByteArray& body, CTask_FormData& form);

private:
    QString head_method;
    QString head_url;
    QString head_user_agent;
    QString head_user_id;
    QString head_content_type;
    qint32 content_length = 0;
    CTask_FormData form;
};
