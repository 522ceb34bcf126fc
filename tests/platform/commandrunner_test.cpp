#include "platform/system/commandrunner.h"

#include <gtest/gtest.h>

using platform::CommandRunner;

class CommandRunnerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CommandRunner::instance().clearRecorded();
        CommandRunner::instance().clearQueryAnswers();
    }
};

TEST_F(CommandRunnerTest, ChangesAreRecordedAndNeverRunInSimulation)
{
    auto& runner = CommandRunner::instance();
    const auto r = runner.run("date", {"-s", "2020-01-01 00:00:00"}, CommandRunner::Effect::Change);
    EXPECT_TRUE(r.simulated);
    EXPECT_FALSE(r.started);
    const auto rec = runner.recorded();
    ASSERT_EQ(rec.size(), 1);
    EXPECT_EQ(rec[0].program, "date");
    EXPECT_EQ(rec[0].args, QStringList({"-s", "2020-01-01 00:00:00"}));
    EXPECT_TRUE(rec[0].changesMachine);
    EXPECT_FALSE(rec[0].ran);
}

TEST_F(CommandRunnerTest, QueriesAreAnsweredFromFixtures)
{
    auto& runner = CommandRunner::instance();
    runner.setQueryAnswer("pgrep", "123\n456\n");
    const auto r = runner.run("pgrep", {"Orvale"}, CommandRunner::Effect::Query);
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.output, QByteArray("123\n456\n"));
    EXPECT_EQ(r.exitCode, 0);
}

TEST_F(CommandRunnerTest, QueryWithoutFixtureRunsNothingInTests)
{
    const auto r = CommandRunner::instance().run("blkid", {}, CommandRunner::Effect::Query);
    EXPECT_FALSE(r.started);
    EXPECT_TRUE(r.output.isEmpty());
    ASSERT_EQ(CommandRunner::instance().recorded().size(), 1);
    EXPECT_FALSE(CommandRunner::instance().recorded()[0].ran);
}

TEST_F(CommandRunnerTest, ArgumentsReachTheProgramUnchanged)
{
    // A real run (device mode) of a harmless program: shell syntax in an
    // argument stays a plain argument.
    auto& runner = CommandRunner::instance();
    runner.setMode(CommandRunner::Mode::Device);
    const auto r = runner.run("printf", {"%s", "a; echo injected"}, CommandRunner::Effect::Query);
    runner.setMode(CommandRunner::Mode::Simulated);
    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.output, QByteArray("a; echo injected"));
}

// A program that runs for months keeps only its latest commands.
TEST_F(CommandRunnerTest, KeepsOnlyTheLatestCommands)
{
    auto& runner = CommandRunner::instance();
    EXPECT_EQ(runner.recordLimit(), CommandRunner::kDefaultRecordLimit);
    for (int i = 0; i < CommandRunner::kDefaultRecordLimit + 50; ++i)
        runner.run("hwclock", {QString::number(i)}, CommandRunner::Effect::Change);
    QList<platform::RecordedCommand> rec = runner.recorded();
    ASSERT_EQ(rec.size(), CommandRunner::kDefaultRecordLimit);
    EXPECT_EQ(rec.first().args, QStringList{"50"});
    EXPECT_EQ(rec.last().args, QStringList{QString::number(CommandRunner::kDefaultRecordLimit + 49)});

    runner.setRecordLimit(2);
    rec = runner.recorded();
    ASSERT_EQ(rec.size(), 2);
    EXPECT_EQ(rec.first().args, QStringList{QString::number(CommandRunner::kDefaultRecordLimit + 48)});
    runner.setRecordLimit(CommandRunner::kDefaultRecordLimit);
}
