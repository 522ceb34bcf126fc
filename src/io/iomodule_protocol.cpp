#include "io/iomodule_protocol.h"

#include "foundation/publictools.h"

#include <QRegularExpression>

namespace iomodule {

namespace {

// Bytes before the first zero byte (the peers are C programs; whatever
// follows a terminator is not part of the text).
int textLength(const QByteArray& bytes)
{
    const int zero = bytes.indexOf('\0');
    return zero < 0 ? bytes.size() : zero;
}

IoMessageParse bad(const QString& why, const QByteArray& raw)
{
    IoMessageParse r;
    r.outcome = IoMessageParse::Outcome::Bad;
    r.why = why;
    r.raw = raw;
    r.used = raw.size();
    return r;
}

}  // namespace

IoMessageParse parseIoMessageText(const QByteArray& message, const Skt_Session& src)
{
    QString text = QString::fromUtf8(message.constData(), textLength(message));
    text.remove(QLatin1Char(' '));
    if (text.size() > 1 && text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    if (text.size() <= 4)
        return bad(QStringLiteral("too short"), message);
    if (!text.startsWith(QLatin1Char('<')))
        return bad(QStringLiteral("does not begin with '<'"), message);
    if (!text.endsWith(QLatin1Char('>')))
        return bad(QStringLiteral("does not end with '>'"), message);

    IoMessageParse r;
    r.raw = message;
    r.used = message.size();
    IoMessage& m = r.message;
    m.stripped = text.mid(1, text.size() - 2);
    m.parts = m.stripped.split(QLatin1Char(';'), Qt::KeepEmptyParts);
    if (m.parts.size() < 2)
        return bad(QStringLiteral("fewer than two fields"), message);

    m.head.address = src.address;
    m.head.port = src.port;
    m.head.kind = m.parts.at(0);
    bool ok = false;
    const int code = m.parts.at(1).toInt(&ok);
    m.head.code = ok ? code : 0;
    if (m.parts.size() > 2)
        m.head.target = m.parts.at(2);
    r.outcome = IoMessageParse::Outcome::Complete;
    return r;
}

IoMessageParse parseIoMessage(const QByteArray& bytes, const Skt_Session& src)
{
    const int end = bytes.left(textLength(bytes)).indexOf('>');
    if (end < 0)
        return IoMessageParse();  // incomplete
    return parseIoMessageText(bytes.left(end + 1), src);
}

IoDatagramParse parseIoDatagram(const QByteArray& bytes, const Skt_Session& src)
{
    IoDatagramParse out;
    QByteArray rest = bytes.left(textLength(bytes));
    while (!rest.isEmpty()) {
        IoMessageParse one = parseIoMessage(rest, src);
        if (one.outcome == IoMessageParse::Outcome::Incomplete)
            break;
        rest.remove(0, one.used);
        out.messages.append(one);
    }
    out.dropped = rest.size();
    return out;
}

std::optional<int> parseIoWord(const QString& text)
{
    if (text.size() != 8)
        return std::nullopt;
    int bits = 0;
    for (int i = 0; i < 8; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('1'))
            bits |= 1 << i;
        else if (c != QLatin1Char('0'))
            return std::nullopt;
    }
    return bits;
}

std::optional<QString> modifyCellsGroupText(const QString& stripped)
{
    static const QRegularExpression re(QStringLiteral("^A;22;\\S+?;(.*)"));
    const QRegularExpressionMatch m = re.match(stripped);
    if (!m.hasMatch())
        return std::nullopt;
    return m.captured(1);
}

QByteArray heartbeatReply(const QString& ownId)
{
    return QStringLiteral("<C;3;%1>").arg(ownId).toUtf8();
}

QByteArray needRepairReply(const QString& ownId, const QString& ownAddress)
{
    return QStringLiteral("<C;4;%1;%2>").arg(ownId, ownAddress).toUtf8();
}

QByteArray inputStateReply(const QString& ownId)
{
    return QStringLiteral("<C;5;%1;OK>").arg(ownId).toUtf8();
}

QByteArray apiDiscoverReply(const QString& machineId, const QString& mainAddress)
{
    return QStringLiteral("<C;10;%1;%2>").arg(machineId, mainAddress).toUtf8();
}

QByteArray discoverReply(const QString& ownId, const QString& mac, const QString& groupText)
{
    return (QStringLiteral("<C;21;") + ownId + QLatin1Char(';') + mac + QLatin1Char(';')
            + QLatin1String(kVersionText) + QLatin1Char(';') + groupText + QLatin1Char('>'))
        .toUtf8();
}

QByteArray modifyCellsReply(const QString& ownId)
{
    return QStringLiteral("<C;22;%1;OK>").arg(ownId).toUtf8();
}

QByteArray outputFrame(const QString& ownId, int outputBits)
{
    return QStringLiteral("<C;6;%1;%2>").arg(ownId, ChgIO_Int2ASCII(outputBits & 0xff)).toUtf8();
}

}  // namespace iomodule
