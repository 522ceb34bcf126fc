// The simple totals file: counting, the file's form, a file that is not an
// object, clearing, and a writer killed while saving.
#include "statistics/statisticssimple.h"
#include "statistics/statisticstestbench.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>

#include <csignal>
#include <sys/types.h>

using namespace statstest;

namespace {

const char* const kWriterEnv = "ORVALE_SIMPLE_WRITER_DIR";

class SimpleTotalsTest : public StatisticsFixture {
protected:
    void SetUp() override
    {
        StatisticsFixture::SetUp();
        QDir().mkpath("workspace");
    }
    void TearDown() override { StatisticsSimple::releaseInstance(); }
    QJsonObject fileObject() { return QJsonDocument::fromJson(scratch.read("workspace/simple_total.json")).object(); }
};

TEST_F(SimpleTotalsTest, CountsReachTheFileAsOneObjectPerKey)
{
    StatisticsSimple* s = StatisticsSimple::getInstance();
    s->incrementTotal("mould A");
    s->incrementTotal("mould A");
    s->incrementNG("mould A");
    EXPECT_EQ(s->getStatistics("never").total, 0);
    EXPECT_FALSE(s->getAllStatistics().contains("never"));
    ASSERT_TRUE(s->saveToFile());
    EXPECT_EQ(fileObject(), (QJsonObject{{"mould A", QJsonObject{{"total", 2}, {"ng", 1}}}}));
    EXPECT_TRUE(scratch.read("workspace/simple_total.json").contains("\n    \"mould A\""));

    StatisticsSimple::releaseInstance();
    EXPECT_EQ(StatisticsSimple::getInstance()->getStatistics("mould A").ng, 1);
}

TEST_F(SimpleTotalsTest, UnchangedTotalsAreNotRewritten)
{
    StatisticsSimple* s = StatisticsSimple::getInstance();
    s->incrementTotal("k");
    ASSERT_TRUE(s->saveToFile());
    QFile::remove(scratch.file("workspace/simple_total.json"));
    ASSERT_TRUE(s->saveToFile());
    EXPECT_FALSE(QFile::exists(scratch.file("workspace/simple_total.json")));
    s->incrementNG("k");
    ASSERT_TRUE(s->saveToFile());
    EXPECT_EQ(fileObject().value("k").toObject().value("ng").toInt(), 1);
}

TEST_F(SimpleTotalsTest, AFileThatIsNotAnObjectGivesNoTotals)
{
    for (const QByteArray& content : {QByteArray("[1, 2]"), QByteArray("{\"k\": {\"total\": 3, \"ng"), QByteArray()}) {
        SCOPED_TRACE(content.toStdString());
        scratch.write("workspace/simple_total.json", content);
        EXPECT_TRUE(StatisticsSimple::getInstance()->getAllStatistics().isEmpty());
        StatisticsSimple::releaseInstance();
    }
}

TEST_F(SimpleTotalsTest, ClearingEmptiesTheFileWithoutHanging)
{
    StatisticsSimple* s = StatisticsSimple::getInstance();
    s->incrementTotal("k");
    s->clearAllStatistics();
    EXPECT_EQ(fileObject(), QJsonObject());
    EXPECT_TRUE(s->getAllStatistics().isEmpty());
}

// Run by the kill test as a separate process: counts and saves, printing
// each save that returned.
TEST_F(SimpleTotalsTest, DISABLED_WriterProcess)
{
    const QString dir = qEnvironmentVariable(kWriterEnv);
    if (dir.isEmpty())
        GTEST_SKIP();
    testsupport::WorkingDir there(dir);
    StatisticsSimple* s = StatisticsSimple::getInstance();
    for (int n = 1;; ++n) {
        // Many keys make each save long enough to be cut.
        for (int k = 0; k < 200; ++k) {
            s->incrementTotal(QString("key %1").arg(k));
            s->incrementNG(QString("key %1").arg(k));
        }
        if (s->saveToFile()) {
            printf("saved %d\n", s->getStatistics("key 0").total);
            fflush(stdout);
        }
    }
}

TEST_F(SimpleTotalsTest, AKilledSaveLeavesTheLastWholeFile)
{
    QRandomGenerator rng(104);
    for (int round = 0; round < 5; ++round) {
        const int killAfterMs = 20 + int(rng.bounded(100));
        SCOPED_TRACE(killAfterMs);
        QProcess writer;
        ASSERT_TRUE(startSelf(writer, "SimpleTotalsTest.DISABLED_WriterProcess", kWriterEnv, scratch.path()));
        int lastSaved = 0;
        QElapsedTimer since;
        since.start();
        while (lastSaved == 0 || since.elapsed() < killAfterMs) {
            ASSERT_TRUE(writer.waitForReadyRead(5000)) << "writer ended early";
            while (writer.canReadLine()) {
                const QByteArray line = writer.readLine().trimmed();
                if (line.startsWith("saved "))
                    lastSaved = line.mid(6).toInt();
            }
        }
        ::kill(pid_t(writer.processId()), SIGKILL);
        writer.waitForFinished(-1);
        const QJsonDocument doc = QJsonDocument::fromJson(scratch.read("workspace/simple_total.json"));
        ASSERT_TRUE(doc.isObject()) << "cut file";
        const QJsonObject obj = doc.object();
        ASSERT_EQ(obj.size(), 200);
        const int total = obj.value("key 0").toObject().value("total").toInt();
        EXPECT_GE(total, lastSaved);
        for (auto it = obj.begin(); it != obj.end(); ++it) {
            EXPECT_EQ(it.value().toObject().value("total").toInt(), total) << it.key().toStdString();
            EXPECT_EQ(it.value().toObject().value("ng").toInt(), total) << it.key().toStdString();
        }
    }
}

}  // namespace
