#include "httpapi/requestvalues.h"

#include <QJsonArray>

#include <climits>
#include <cmath>

namespace requestvalues {

bool wholeNumber(const QJsonValue& value, int* out)
{
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (!std::isfinite(d) || d != std::floor(d) || d < double(INT_MIN) || d > double(INT_MAX))
            return false;
        *out = int(d);
        return true;
    }
    if (value.isString()) {
        bool ok = false;
        const QString text = value.toString();
        const int n = text.toInt(&ok, 10);
        if (!ok || text.trimmed() != text || text.startsWith(QLatin1Char('+')))
            return false;
        *out = n;
        return true;
    }
    return false;
}

QString requireWhole(const QJsonObject& body, const QString& key, int* out)
{
    if (!body.contains(key))
        return QStringLiteral("\"%1\" is missing: a whole number is required").arg(key);
    if (!wholeNumber(body.value(key), out))
        return QStringLiteral("\"%1\" must be a whole number").arg(key);
    return {};
}

QString optionalWhole(const QJsonObject& body, const QString& key, int* out, bool* present)
{
    *present = body.contains(key);
    if (*present && !wholeNumber(body.value(key), out))
        return QStringLiteral("\"%1\" must be a whole number").arg(key);
    return {};
}

QString optionalTextList(const QJsonObject& body, const QString& key, QStringList* out, bool* present)
{
    *present = body.contains(key);
    if (!*present)
        return {};
    const QJsonValue v = body.value(key);
    if (!v.isArray())
        return QStringLiteral("\"%1\" must be an array of texts").arg(key);
    QStringList list;
    for (const QJsonValue& e : v.toArray()) {
        if (!e.isString())
            return QStringLiteral("\"%1\" must be an array of texts").arg(key);
        list << e.toString();
    }
    *out = list;
    return {};
}

QString requireText(const QJsonObject& body, const QString& key, QString* out)
{
    if (!body.value(key).isString())
        return QStringLiteral("\"%1\" must be a text").arg(key);
    *out = body.value(key).toString();
    return {};
}

QString requireNumber(const QJsonObject& body, const QString& key, double* out)
{
    const QJsonValue v = body.value(key);
    if (!v.isDouble() || !std::isfinite(v.toDouble()))
        return body.contains(key) ? QStringLiteral("\"%1\" must be a number").arg(key)
                                  : QStringLiteral("\"%1\" is missing: a number is required").arg(key);
    *out = v.toDouble();
    return {};
}

QString requireObject(const QJsonObject& body, const QString& key, QJsonObject* out)
{
    if (!body.value(key).isObject())
        return body.contains(key) ? QStringLiteral("\"%1\" must be an object").arg(key)
                                  : QStringLiteral("\"%1\" is missing: an object is required").arg(key);
    *out = body.value(key).toObject();
    return {};
}

}  // namespace requestvalues
