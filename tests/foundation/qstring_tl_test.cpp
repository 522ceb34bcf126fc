#include "foundation/qstring_tl.h"

#include <QThread>
#include <gtest/gtest.h>

namespace {

TEST(QStringTL, ValueByLanguageIndex)
{
    const QString_TL text(QStringLiteral("启用"), QStringLiteral("active"));
    struct Case {
        int index;
        const char* expected;
    };
    const Case cases[] = {
        {0, "启用"}, {1, "active"}, {2, "启用"}, {7, "启用"}, {-1, "启用"}, {INT_MIN, "启用"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(text.value(c.index), QString::fromUtf8(c.expected)) << "index " << c.index;
}

TEST(QStringTL, EmptyEnglishTextIsNotReplacedByChinese)
{
    const QString_TL text(QStringLiteral("报警"), QString());
    EXPECT_TRUE(text.value(1).isEmpty());
    EXPECT_EQ(text.value(0), QStringLiteral("报警"));
    EXPECT_TRUE(text.contains(QStringLiteral("en-US")));
}

TEST(QStringTL, HoldsExactlyTheTwoLanguageCodes)
{
    const QString_TL text(QStringLiteral("中"), QStringLiteral("en"));
    EXPECT_EQ(text.texts().keys(), (QStringList{"en-US", "zh-CN"}));
    EXPECT_EQ(text.text(QStringLiteral("en-US")), QStringLiteral("en"));
    EXPECT_FALSE(text.contains(QStringLiteral("zh-TW")));
    EXPECT_TRUE(text.text(QStringLiteral("zh-TW")).isEmpty());
}

TEST(QStringTL, DefaultValueGivesEmptyTextForEveryIndex)
{
    const QString_TL text;
    for (int index : {-1, 0, 1, 2})
        EXPECT_TRUE(text.value(index).isEmpty()) << index;
}

TEST(LanguageState, StartsInSimplifiedChinese)
{
    EXPECT_EQ(g_Language.get(), QStringLiteral("zh-CN"));
    EXPECT_EQ(gLan.load(), 0);
}

TEST(LanguageState, ReaderSeesWholeCodesWhileAnotherThreadReplacesThem)
{
    const QString zh = QStringLiteral("zh-CN");
    const QString en = QStringLiteral("en-US");
    std::atomic<bool> stop{false};
    QThread* writer = QThread::create([&] {
        for (int i = 0; i < 20000; ++i)
            g_Language = (i % 2) ? en : zh;
        stop = true;
    });
    writer->start();
    int bad = 0;
    while (!stop) {
        const QString seen = g_Language;
        if (seen != zh && seen != en)
            ++bad;
    }
    writer->wait();
    delete writer;
    EXPECT_EQ(bad, 0);
    g_Language = zh;
    EXPECT_TRUE(g_Language == zh);
}

}  // namespace
