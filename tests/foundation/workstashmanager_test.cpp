#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "foundation/workstashmanager.h"
#include "platform/system/dataroot.h"
#include "support/scratchdir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

using platform::DataRoot;

namespace {

QSet<QString> namesIn(const QString& dir)
{
    const QStringList names =
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    return QSet<QString>(names.begin(), names.end());
}

const QStringList kBoth = {"default", "level_1"};
const QStringList kLevel1 = {"level_1"};

WorkStashManager_Config startupConfig()
{
    WorkStashManager_Config c;
    c.settings_file = "Vistrel.ini";
    c.workspace_dir = "./workspace/";
    c.temp_dir = "/userdata/tmp/";
    return c;
}

// Each test runs in its own working directory and data root.
class WorkStashTest : public ::testing::Test {
protected:
    testsupport::ScratchDir work;
    testsupport::ScratchDir root;
    testsupport::WorkingDir cwd{work.path()};
    const QString oldRoot = DataRoot::root();
    WorkStashManager* stash = nullptr;

    void SetUp() override { DataRoot::setRoot(root.path()); }
    void TearDown() override
    {
        if (stash)
            stash->sync();  // nothing left to write once the folders are gone
        DataRoot::setRoot(oldRoot);
        LogManager::setLogInfoLevel(kBoth);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    WorkStashManager* make(const WorkStashManager_Config& c = startupConfig())
    {
        stash = WorkStashManager::getInstance(c);
        return stash;
    }
    QString tempDir() const { return root.path() + "/userdata/tmp/"; }
};

TEST_F(WorkStashTest, FreshDeviceGetsWorkspaceSettingsAndTempFolder)
{
    const qint64 before = gettimeofday_ms() / 1000;
    make();
    const qint64 after = gettimeofday_ms() / 1000;

    EXPECT_TRUE(QFileInfo(work.file("workspace")).isDir());
    EXPECT_TRUE(QFileInfo(tempDir()).isDir());
    const qint64 stamp = stash->value("VCamera_Work/CurRecordFile_Time", -1).toLongLong();
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    stash->sync();
    EXPECT_TRUE(QFileInfo::exists(work.file("workspace/Vistrel.ini")));
    EXPECT_EQ(WorkStashManager::getInstance(), stash);
}

TEST_F(WorkStashTest, StoredSettingsSurviveAndRecordFileTimeIsKept)
{
    work.write("workspace/Vistrel.ini",
               "[VCamera_Work]\nCurRecordFile_Time=1700000000\nRecordTime=1700000500\n");
    make();
    EXPECT_EQ(stash->value("VCamera_Work/CurRecordFile_Time").toLongLong(), 1700000000);
    EXPECT_EQ(stash->settings->value("VCamera_Work/RecordTime", 0).toLongLong(), 1700000500);
}

TEST_F(WorkStashTest, OnlyCompanionsOfTheSettingsFileAreRemoved)
{
    work.write("workspace/Vistrel.ini", "[VCamera_Work]\nRecordTime=5\n");
    work.write("workspace/Vistrel.ini.lock", "");
    work.write("workspace/Vistrel.iniXq3261.tmp", "");
    work.write("workspace/userflow.json", "{}");
    work.write("workspace/vistrel.ini.bak", "");     // another name: case counts
    work.write("workspace/My_Vistrel.ini", "");      // does not begin with the name
    QDir(work.path()).mkpath("workspace/Vistrel.ini.d");  // folders are not companions
    make();
    EXPECT_EQ(namesIn(work.file("workspace")),
              (QSet<QString>{"Vistrel.ini", "userflow.json", "vistrel.ini.bak", "My_Vistrel.ini", "Vistrel.ini.d"}));
    EXPECT_EQ(stash->value("VCamera_Work/RecordTime").toInt(), 5);
}

TEST_F(WorkStashTest, TempFolderIsEmptiedButDotEntriesStay)
{
    testsupport::ScratchDir outside;
    outside.write("data/keep.bin", "outside");
    root.write("userdata/tmp/a.jpg", "x");
    root.write("userdata/tmp/export/project/p.json", "x");
    root.write("userdata/tmp/export/.inner", "x");
    root.write("userdata/tmp/.keep", "x");
    root.write("userdata/tmp/.cache/c", "x");
    ASSERT_TRUE(QFile::link(outside.file("data"), tempDir() + "linked"));
    make();
    EXPECT_EQ(namesIn(tempDir()), (QSet<QString>{".keep", ".cache"}));
    EXPECT_TRUE(QFileInfo::exists(tempDir() + ".cache/c"));
    EXPECT_EQ(outside.read("data/keep.bin"), "outside");  // a link goes, not what it leads to
}

TEST_F(WorkStashTest, RootOrEmptyTempFolderIsRefused)
{
    root.write("userdata/keep.txt", "x");
    work.write("keep.txt", "x");
    for (const char* bad : {"", "/", "//", " "}) {
        WorkStashManager_Config c = startupConfig();
        c.temp_dir = bad;
        make(c);
        EXPECT_TRUE(QFileInfo::exists(root.file("userdata/keep.txt"))) << '"' << bad << '"';
        EXPECT_TRUE(QFileInfo::exists(work.file("keep.txt"))) << '"' << bad << '"';
        EXPECT_TRUE(QFileInfo::exists(work.file("workspace"))) << '"' << bad << '"';
    }
}

TEST_F(WorkStashTest, LogTimeCountdownTicks)
{
    struct Case {
        QByteArray before;
        QByteArray after;
        bool defaultOn;  // categories become {"default","level_1"}; else they stay as they were
    };
    const Case cases[] = {
        {"600\n", "540", true},
        {"61", "1", true},
        {"604860", "604800", true},
        {" 120 \r\n", "60", true},
        {QByteArray("300\0garbage", 11), "240", true},
        {"60", "60", false},
        {"0", "0", false},
        {"604861", "604861", false},
        {"-600", "-600", false},
        {"abc", "abc", false},
        {"600abc", "600abc", false},
        {"", "", false},
    };
    make();
    const QString file = work.file("workspace/LogRemainTime.txt");
    const QStringList untouched = {"untouched"};
    for (const Case& c : cases) {
        work.write("workspace/LogRemainTime.txt", c.before);
        LogManager::setLogInfoLevel(untouched);
        stash->slot_timer_updateLogRemainTime();
        EXPECT_EQ(work.read("workspace/LogRemainTime.txt"), c.after) << c.before.toStdString();
        EXPECT_EQ(LogManager::logInfoLevel(), c.defaultOn ? kBoth : untouched) << c.before.toStdString();
    }

    QFile::remove(file);
    LogManager::setLogInfoLevel(kBoth);
    stash->slot_timer_updateLogRemainTime();
    EXPECT_EQ(LogManager::logInfoLevel(), kLevel1);
    EXPECT_FALSE(QFileInfo::exists(file));  // never created by the program
}

TEST_F(WorkStashTest, CountdownRunsOutAndKeepsDefaultOnUntilTheFileGoes)
{
    make();
    stash->slot_timer_updateLogRemainTime();  // what start-up does: no file, "level_1" only
    EXPECT_EQ(LogManager::logInfoLevel(), kLevel1);

    work.write("workspace/LogRemainTime.txt", "150\n");
    const QByteArray expected[] = {"90", "30", "30"};
    for (const QByteArray& e : expected) {
        stash->slot_timer_updateLogRemainTime();
        EXPECT_EQ(work.read("workspace/LogRemainTime.txt"), e);
        EXPECT_EQ(LogManager::logInfoLevel(), kBoth);
    }

    QFile::remove(work.file("workspace/LogRemainTime.txt"));
    stash->slot_timer_updateLogRemainTime();
    EXPECT_EQ(LogManager::logInfoLevel(), kLevel1);
}

TEST_F(WorkStashTest, CategoryListSwapIsSafeWhileOtherThreadsLog)
{
    make();
    work.write("workspace/LogRemainTime.txt", "604860");
    std::unique_ptr<QThread> reader(QThread::create([] {
        for (int i = 0; i < 2000; ++i) {
            const QStringList l = LogManager::logInfoLevel();
            if (l != kBoth && l != kLevel1)
                qFatal("torn category list");
        }
    }));
    reader->start();
    for (int i = 0; i < 200; ++i) {
        stash->slot_timer_updateLogRemainTime();
        LogManager::setLogInfoLevel(kLevel1);
    }
    reader->wait();
    EXPECT_EQ(work.read("workspace/LogRemainTime.txt"), QByteArray::number(604860 - 200 * 60));
}

TEST_F(WorkStashTest, SettingsCanBeWrittenFromSeveralThreads)
{
    make();
    std::unique_ptr<QThread> writers[4];
    for (int t = 0; t < 4; ++t) {
        writers[t].reset(QThread::create([this, t] {
            for (int i = 0; i < 50; ++i)
                stash->setValue(QString("VCamera_Work/Subscriber_%1_%2").arg(t).arg(i), i);
        }));
        writers[t]->start();
    }
    for (auto& w : writers)
        w->wait();
    int subscribers = 0;
    for (const QString& key : stash->allKeys())
        subscribers += key.contains("Subscriber") ? 1 : 0;
    EXPECT_EQ(subscribers, 4 * 50);
}

}  // namespace
