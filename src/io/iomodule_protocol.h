#pragma once
// The short ASCII message protocol spoken between the camera, its IO module,
// the configuration app and the other cameras of a group:
//
//     "<" kind ";" code [";" field]... ">"
//
// kind is "S" (IO module), "A" (app or API client) or "C" (camera); code is a
// decimal number. Several messages may follow each other in one datagram;
// spaces are ignored and a trailing CR is tolerated. IO words travel as eight
// "0"/"1" characters, the first for IO 1 (bit 0).
//
// Everything here is a pure function of its arguments: the link feeds bytes
// in and sends the texts built here.
#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <optional>

// The peer of one UDP message.
struct Skt_Session {
    QString address;  // IPv4 text, never with a "::ffff:" prefix
    int port = -1;
};
Q_DECLARE_METATYPE(Skt_Session)

// The parsed head of one message.
struct ZRU_IODevice_P6l_Head {
    QString address;  // sender
    int port = -1;    // sender
    QString kind;     // first field
    int code = 0;     // second field, 0 when it is not a number
    QString target;   // third field, empty when there are only two
};

namespace iomodule {

// Fixed ports: the camera listens on 10412 (IO module) and 10410 (discovery
// and configuration); the IO module takes replies and outputs on 10411.
constexpr quint16 kPortDiscovery = 10410;
constexpr quint16 kPortModule = 10411;
constexpr quint16 kPortCamera = 10412;

// The version text the camera gives in its discovery answer.
constexpr const char kVersionText[] = "V1.0.5.29";

// Status words of the protocol handler, spelled as the peers know them.
constexpr const char kStatusFormatError[] = "format_error";
constexpr const char kStatusDiscard[] = "discard";
constexpr const char kStatusIgnore[] = "ignore";
constexpr const char kStatusFail[] = "fail";
constexpr const char kStatusSuccess[] = "success";
constexpr const char kStatusSucess[] = "sucess";
constexpr const char kStatusMainThreadStop[] = "main thread stop";

// One message taken apart.
struct IoMessage {
    ZRU_IODevice_P6l_Head head;
    QStringList parts;  // every field, kind and code included, empty ones kept
    QString stripped;   // the text between the brackets, spaces removed
};

// The outcome of reading one message from the front of some bytes.
struct IoMessageParse {
    enum class Outcome {
        Incomplete,  // no '>' yet: nothing was used
        Bad,         // a message was cut but is malformed (see why)
        Complete,    // a message was cut and taken apart
    };
    Outcome outcome = Outcome::Incomplete;
    QString why;        // Bad: what is wrong with it
    IoMessage message;  // Complete: the message
    QByteArray raw;     // Bad and Complete: the bytes that were cut
    int used = 0;       // Bad and Complete: bytes used from the front
};

// Reads one message from the front of `bytes`: the bytes up to and including
// the first '>' are cut (only those before a zero byte count), spaces are
// removed, a trailing CR is dropped, and the rest must be "<kind;code...>"
// with at least two fields. The sender goes into the head as given.
IoMessageParse parseIoMessage(const QByteArray& bytes, const Skt_Session& src = Skt_Session());

// Takes apart one message that has already been cut from its datagram: the
// whole text (up to a zero byte) must form the message, so it is Bad when it
// does not end with '>' (never Incomplete).
IoMessageParse parseIoMessageText(const QByteArray& message, const Skt_Session& src = Skt_Session());

// All messages of one datagram, in order. Bytes from the first zero byte on
// are ignored; bytes after the last '>' cannot form a message and are
// counted in `dropped`.
struct IoDatagramParse {
    QList<IoMessageParse> messages;  // each Bad or Complete
    int dropped = 0;
};
IoDatagramParse parseIoDatagram(const QByteArray& bytes, const Skt_Session& src = Skt_Session());

// An IO word: exactly eight characters, each '0' or '1', the first for bit 0.
// Anything else gives no value.
std::optional<int> parseIoWord(const QString& text);

// The new group text of a modify-cells message ("A;22;<target>;<text>"),
// read from its stripped text; no value when it does not have that form.
std::optional<QString> modifyCellsGroupText(const QString& stripped);

// Replies and frames sent by the camera.
QByteArray heartbeatReply(const QString& ownId);                                // <C;3;id>
QByteArray needRepairReply(const QString& ownId, const QString& ownAddress);    // <C;4;id;ip>
QByteArray inputStateReply(const QString& ownId);                               // <C;5;id;OK>
QByteArray apiDiscoverReply(const QString& machineId, const QString& mainAddress);  // <C;10;machine;main ip>
QByteArray discoverReply(const QString& ownId, const QString& mac, const QString& groupText);  // <C;21;...>
QByteArray modifyCellsReply(const QString& ownId);                              // <C;22;id;OK>
QByteArray outputFrame(const QString& ownId, int outputBits);                   // <C;6;id;OOOOOOOO>

}  // namespace iomodule
