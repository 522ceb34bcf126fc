// The readers of request values: what counts as a whole number, and that a
// refusal names its key.
#include "httpapi/requestvalues.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace requestvalues;

TEST(RequestValuesTest, WholeNumbersAndWhatIsNotOne)
{
    struct Case {
        const char* json;  // {"v": ...}
        bool whole;
        int value;
    };
    const Case cases[] = {
        {"3", true, 3},          {"-1", true, -1},           {"0", true, 0},
        {"2147483647", true, 2147483647}, {"\"12\"", true, 12}, {"\"-3\"", true, -3},
        {"3.5", false, 0},       {"true", false, 0},         {"false", false, 0},
        {"null", false, 0},      {"2147483648", false, 0},   {"-2147483649", false, 0},
        {"1e300", false, 0},     {"\"3.5\"", false, 0},      {"\"\"", false, 0},
        {"\" 7\"", false, 0},    {"\"+7\"", false, 0},       {"\"x\"", false, 0},
        {"[3]", false, 0},       {"{\"a\":3}", false, 0},
    };
    for (const Case& c : cases) {
        const QJsonObject o = QJsonDocument::fromJson(QByteArray("{\"v\":") + c.json + "}").object();
        int out = -99;
        EXPECT_EQ(wholeNumber(o.value("v"), &out), c.whole) << c.json;
        if (c.whole) {
            EXPECT_EQ(out, c.value) << c.json;
        }
    }
}

TEST(RequestValuesTest, RefusalsNameTheirKey)
{
    const QJsonObject body{{"n", 3.5}, {"t", 4}, {"l", QJsonArray{"a", 1}}, {"o", "x"}};
    int i = 0;
    bool present = false;
    QString s;
    QStringList list;
    QJsonObject o;
    EXPECT_TRUE(requireWhole(body, "missing", &i).contains("\"missing\""));
    EXPECT_TRUE(requireWhole(body, "n", &i).contains("\"n\""));
    EXPECT_TRUE(optionalWhole(body, "absent", &i, &present).isEmpty());
    EXPECT_FALSE(present);
    EXPECT_TRUE(requireText(body, "t", &s).contains("\"t\""));
    EXPECT_TRUE(optionalTextList(body, "l", &list, &present).contains("\"l\""));
    EXPECT_TRUE(requireObject(body, "o", &o).contains("\"o\""));
    EXPECT_TRUE(optionalTextList(QJsonObject{{"l", QJsonArray{}}}, "l", &list, &present).isEmpty());
    EXPECT_TRUE(present);
    EXPECT_TRUE(list.isEmpty());
}
