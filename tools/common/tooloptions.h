#pragma once
// Command-line handling shared by the simulators: what a person types is
// checked before anything starts, and a value that cannot be what the
// option means (a port outside 1..65535, a number that is no number, an
// address that does not parse, a word that is not one of the choices) ends
// the program with a message on standard error and exit code 2. Unknown
// options and stray arguments are refused the same way; --help prints the
// usage and exits 0.
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QRegularExpression>
#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace tooloptions {

[[noreturn]] inline void refuse(const QString& text)
{
    std::fprintf(stderr, "%s: %s (--help lists the options)\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(text));
    std::exit(2);
}

// An option that takes a value, its default named in the help.
inline QCommandLineOption valueOption(const QString& name, const QString& description, const QString& valueName,
                                      const QString& defaultValue)
{
    return QCommandLineOption(name, QStringLiteral("%1 (default %2)").arg(description, defaultValue), valueName,
                              defaultValue);
}

// Parses the arguments; --help prints the usage and exits 0, anything the
// parser does not know exits 2.
inline void process(QCommandLineParser& parser, const QCoreApplication& app)
{
    if (!parser.parse(app.arguments()))
        refuse(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty())
        refuse(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
}

// A whole number from min to max.
inline qint64 number(const QCommandLineParser& parser, const QCommandLineOption& option, qint64 min, qint64 max)
{
    const QString text = parser.value(option);
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    if (!ok || value < min || value > max)
        refuse(QStringLiteral("--%1 \"%2\" is not a whole number from %3 to %4")
                   .arg(option.names().first(), text)
                   .arg(min)
                   .arg(max));
    return value;
}

inline quint16 port(const QCommandLineParser& parser, const QCommandLineOption& option)
{
    return quint16(number(parser, option, 1, 65535));
}

// An IPv4 address in four dotted numbers, or an IPv6 address ("1.2.3",
// which the system's parser would take as 1.2.0.3, is refused).
inline QHostAddress address(const QCommandLineParser& parser, const QCommandLineOption& option)
{
    const QString text = parser.value(option).trimmed();
    const bool dotted = QRegularExpression(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$")).match(text).hasMatch();
    const QHostAddress address(text);
    if (address.isNull() || (!dotted && !text.contains(QLatin1Char(':'))))
        refuse(QStringLiteral("--%1 \"%2\" is not an IP address").arg(option.names().first(), text));
    return address;
}

// One of `choices`, as typed.
inline QString choice(const QCommandLineParser& parser, const QCommandLineOption& option, const QStringList& choices)
{
    const QString text = parser.value(option);
    if (!choices.contains(text))
        refuse(QStringLiteral("--%1 \"%2\" is not one of %3")
                   .arg(option.names().first(), text, choices.join(QStringLiteral(", "))));
    return text;
}

}  // namespace tooloptions
