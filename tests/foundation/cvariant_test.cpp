#include "foundation/cvariant.h"

#include <QString>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(CVariant, FreshHolderIsEmptyAndSetReplaces)
{
    CVariant<QString> holder;
    EXPECT_TRUE(holder.isEmpty());
    EXPECT_FALSE(holder.hasValue());
    holder.setValue(QStringLiteral("first"));
    holder = QStringLiteral("second");
    EXPECT_TRUE(holder.hasValue());
    EXPECT_EQ(holder.getValue(), QStringLiteral("second"));
    holder.clear();
    EXPECT_TRUE(holder.isEmpty());
}

TEST(CVariant, EmptyHolderReadsAsDefaultOrFallback)
{
    const CVariant<int> holder;
    EXPECT_EQ(holder.getValue(), 0);
    EXPECT_EQ(holder.valueOr(-1), -1);
}

TEST(CVariant, SetReleasesThePreviousValue)
{
    auto first = std::make_shared<int>(1);
    std::weak_ptr<int> watch = first;
    CVariant<std::shared_ptr<int>> holder(first);
    first.reset();
    EXPECT_FALSE(watch.expired());
    holder.setValue(std::make_shared<int>(2));
    EXPECT_TRUE(watch.expired());
}

TEST(CVariant, SelfAssignmentKeepsValueAndDoesNotBlock)
{
    CVariant<QString> holder(QStringLiteral("kept"));
    CVariant<QString>& alias = holder;
    holder = alias;
    EXPECT_EQ(holder.getValue(), QStringLiteral("kept"));
}

TEST(CVariant, CopiesAreIndependent)
{
    CVariant<QString> a(QStringLiteral("a"));
    CVariant<QString> b(a);
    CVariant<QString> empty;
    b = QStringLiteral("b");
    EXPECT_EQ(a.getValue(), QStringLiteral("a"));
    a = empty;
    EXPECT_TRUE(a.isEmpty());
    EXPECT_EQ(b.getValue(), QStringLiteral("b"));
}

TEST(CVariant, ReadCopyOutlivesReplacementAndHolder)
{
    auto holder = std::make_unique<CVariant<std::shared_ptr<QString>>>(
        std::make_shared<QString>(QStringLiteral("payload")));
    const std::shared_ptr<QString> copy = holder->getValue();
    holder->setValue(std::make_shared<QString>(QStringLiteral("other")));
    holder.reset();
    ASSERT_TRUE(copy);
    EXPECT_EQ(*copy, QStringLiteral("payload"));
}

TEST(CVariant, TwoThreadsAssigningHoldersToEachOtherBothFinish)
{
    CVariant<QString> a(QStringLiteral("a"));
    CVariant<QString> b(QStringLiteral("b"));
    QThread* t1 = QThread::create([&] {
        for (int i = 0; i < 20000; ++i)
            a = b;
    });
    QThread* t2 = QThread::create([&] {
        for (int i = 0; i < 20000; ++i)
            b = a;
    });
    t1->start();
    t2->start();
    EXPECT_TRUE(t1->wait());
    EXPECT_TRUE(t2->wait());
    delete t1;
    delete t2;
    const QString va = a.getValue();
    EXPECT_TRUE(va == QStringLiteral("a") || va == QStringLiteral("b"));
}

TEST(CVariant, ConcurrentReaderNeverSeesAHalfWrittenValue)
{
    const QString x(64, QLatin1Char('x'));
    const QString y(64, QLatin1Char('y'));
    CVariant<QString> holder(x);
    std::atomic<bool> stop{false};
    QThread* writer = QThread::create([&] {
        for (int i = 0; i < 20000; ++i)
            holder.setValue(i % 2 ? y : x);
        stop = true;
    });
    writer->start();
    int bad = 0;
    while (!stop) {
        const QString v = holder.getValue();
        if (v != x && v != y)
            ++bad;
    }
    writer->wait();
    delete writer;
    EXPECT_EQ(bad, 0);
}

}  // namespace
