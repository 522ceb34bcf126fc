#pragma once
// Reading the values of an API request body before a handler acts on them.
// Each reader is a pure function of the body: it either gives the value or
// says, in the refusal text, which key is wrong and why.
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

namespace requestvalues {

// A whole number that fits an int: a JSON number without a fraction, or
// decimal text of one ("-3", "12"). Booleans, fractions, 2^31 and larger,
// 1e300 and other text are not.
bool wholeNumber(const QJsonValue& value, int* out);

// Each reader returns an empty text and sets `out`, or returns the refusal
// text naming the key.
// A key that must be a whole number.
QString requireWhole(const QJsonObject& body, const QString& key, int* out);
// A key that, when present, must be a whole number; `present` tells.
QString optionalWhole(const QJsonObject& body, const QString& key, int* out, bool* present);
// A key that, when present, must be an array of texts; `present` tells.
QString optionalTextList(const QJsonObject& body, const QString& key, QStringList* out, bool* present);
// A key that must be a text.
QString requireText(const QJsonObject& body, const QString& key, QString* out);
// A key that must be a number (any JSON number of finite value).
QString requireNumber(const QJsonObject& body, const QString& key, double* out);
// A key that must be an object.
QString requireObject(const QJsonObject& body, const QString& key, QJsonObject* out);

}  // namespace requestvalues
