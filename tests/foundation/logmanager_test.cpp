#include "foundation/logfiletidy.h"
#include "foundation/logmanager.h"
#include "platform/system/dataroot.h"
#include "support/scratchdir.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <glog/logging.h>
#include <gtest/gtest.h>

namespace {

QSet<QString> namesIn(const QString& dir)
{
    const QStringList names =
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    return QSet<QString>(names.begin(), names.end());
}

QSet<QString> setOf(std::initializer_list<const char*> names)
{
    QSet<QString> s;
    for (const char* n : names)
        s.insert(QString::fromUtf8(n));
    return s;
}

// ---- Tidy of the log folders ---------------------------------------------------

class LogFileTidyTest : public ::testing::Test {
protected:
    testsupport::ScratchDir scratch;
    QString dir() const { return scratch.path() + "/"; }
    void file(const QString& name, const QByteArray& data = "x") { scratch.write(name, data); }
    void link(const QString& name, const QString& target) { ASSERT_TRUE(QFile::link(target, scratch.file(name))); }

    // Two earlier tidied runs and the INFO log of the previous run with its link.
    void previousRuns()
    {
        file("3_LOG_20240101_080000.txt", "first");
        file("7_LOG_20240102_080000.txt", "second");
        file("LOG_20240103-080000.4242.log", "third");
        link("Orvale.INFO", "LOG_20240103-080000.4242.log");
    }
};

TEST_F(LogFileTidyTest, PreviousRunJoinsTheNumberedLogs)
{
    previousRuns();
    logfiletidy::tidyBackendLogs(dir(), 20);
    EXPECT_EQ(namesIn(dir()), setOf({"1_LOG_20240101_080000.txt", "2_LOG_20240102_080000.txt",
                                      "3_LOG_20240103_080000.txt"}));
    EXPECT_EQ(scratch.read("3_LOG_20240103_080000.txt"), "third");
    EXPECT_EQ(scratch.read("1_LOG_20240101_080000.txt"), "first");
}

TEST_F(LogFileTidyTest, ErrorLinkMarksThePreviousRunAndItsLogsBesideInfoGo)
{
    previousRuns();
    file("ERROR_20240103-080510.4242.log");
    link("Orvale.ERROR", "ERROR_20240103-080510.4242.log");
    file("WARNING_20240103-080200.4242.log");
    link("Orvale.WARNING", "WARNING_20240103-080200.4242.log");
    logfiletidy::tidyBackendLogs(dir(), 20);
    EXPECT_EQ(namesIn(dir()), setOf({"1_LOG_20240101_080000.txt", "2_LOG_20240102_080000.txt",
                                      "3_ERROR_20240103_080000.txt"}));
    EXPECT_EQ(scratch.read("3_ERROR_20240103_080000.txt"), "third");
}

TEST_F(LogFileTidyTest, KeepsTheNewestAndRenumbersFromOne)
{
    for (int n = 1; n <= 25; ++n)
        file(QString("%1_LOG_202401%2_080000.txt").arg(n).arg(n, 2, 10, QChar('0')), QByteArray::number(n));
    logfiletidy::tidyBackendLogs(dir(), 20);
    QSet<QString> expected;
    for (int i = 1; i <= 20; ++i)
        expected.insert(QString("%1_LOG_202401%2_080000.txt").arg(i).arg(i + 5, 2, 10, QChar('0')));
    EXPECT_EQ(namesIn(dir()), expected);
    EXPECT_EQ(scratch.read("1_LOG_20240106_080000.txt"), "6");
    EXPECT_EQ(scratch.read("20_LOG_20240125_080000.txt"), "25");
}

TEST_F(LogFileTidyTest, StrayNamesGoOnlyWhenTheyLookLikeFiles)
{
    file("notes.txt");                       // no back-end name: deleted
    file("LOG_2024-0103.1.log");             // not a time: deleted
    file("LOG_20240230-080000.1.log");       // 30 February: deleted
    file("a_b_c.txt");                       // three parts: deleted
    file("README");                          // no dot: not a log file, stays
    QDir(dir()).mkpath("sub.d");             // folders stay
    file("sub.d/LOG_20240103-080000.1.log"); // and so does what is inside them
    logfiletidy::tidyBackendLogs(dir(), 20);
    EXPECT_EQ(namesIn(dir()), setOf({"README", "sub.d"}));
    EXPECT_TRUE(QFile::exists(scratch.file("sub.d/LOG_20240103-080000.1.log")));
}

TEST_F(LogFileTidyTest, LinkLeadingOutOfTheFolderLeavesItsTargetAlone)
{
    testsupport::ScratchDir elsewhere;
    const QString precious = elsewhere.write("precious.conf", "keep me");
    link("Orvale.WARNING", precious);
    logfiletidy::tidyBackendLogs(dir(), 20);
    EXPECT_TRUE(namesIn(dir()).isEmpty());
    EXPECT_EQ(elsewhere.read("precious.conf"), "keep me");
}

TEST_F(LogFileTidyTest, StdoutLogsAreNumberedAndThinned)
{
    struct Case {
        std::initializer_list<const char*> files;
        int keep;
        std::initializer_list<const char*> after;
    };
    const Case cases[] = {
        {{"log.txt", "4_log.txt", "old.txt"}, 20, {"log.txt", "4_log.txt", "5_log.txt"}},
        {{"log.txt", "4_log.txt", "old.txt"}, 2, {"log.txt", "5_log.txt"}},
        {{"1_log.txt", "2_log.txt", "3_log.txt"}, 2, {"2_log.txt", "3_log.txt"}},
        {{"log.txt", ".hidden", "9_log.txt"}, 1, {"log.txt", ".hidden"}},
        {{"99999999999_log.txt", "2_log.txt"}, 20, {"2_log.txt", "3_log.txt"}},
    };
    for (const Case& c : cases) {
        testsupport::ScratchDir d;
        for (const char* f : c.files)
            d.write(f, "x");
        logfiletidy::tidyStdoutLogs(d.path(), c.keep);
        EXPECT_EQ(namesIn(d.path()), setOf(c.after)) << *c.files.begin() << " keep " << c.keep;
    }
}

TEST_F(LogFileTidyTest, UnnumberedStdoutLogsAreNumberedNewestFirst)
{
    file("1_log.txt");
    file("older.txt", "older");
    file("newer.txt", "newer");
    const QDateTime now = QDateTime::currentDateTime();
    for (const auto& [name, age] : {std::pair<const char*, int>{"1_log.txt", 300}, {"older.txt", 200}, {"newer.txt", 100}}) {
        QFile f(scratch.file(name));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(now.addSecs(-age), QFileDevice::FileModificationTime));
    }
    logfiletidy::tidyStdoutLogs(dir(), 20);
    EXPECT_EQ(scratch.read("2_log.txt"), "newer");
    EXPECT_EQ(scratch.read("3_log.txt"), "older");
}

// ---- The front end with its back end -------------------------------------------
//
// glog accepts one initialisation per process: every test below shares the
// front end that backend() sets up once.

struct Backend {
    testsupport::ScratchDir root;  // the data root for the rest of the program
    QString glogDir;
    QString stdlogDir;
    LogManager* first = nullptr;

    Backend()
    {
        platform::DataRoot::setRoot(root.path());
        glogDir = root.path() + "/userdata/log/";
        stdlogDir = root.path() + "/userdata/log_stdout/";
        // What a previous run left behind.
        root.write("userdata/log/LOG_20240103-080000.4242.log", "previous run\n");
        QFile::link("LOG_20240103-080000.4242.log", glogDir + "Orvale.INFO");
        root.write("userdata/log_stdout/log.txt", "current");
        root.write("userdata/log_stdout/old.txt", "old");

        LogManager_Config config;
        config.app_path = QCoreApplication::applicationFilePath();
        config.glog_dir = "/userdata/log/";
        config.log_to_stderr = false;
        config.stdlog_dir = "/userdata/log_stdout/";
        first = LogManager::getInstance(config);
    }

    // The INFO log the back end writes in this run.
    QString currentInfoLog() const
    {
        const QStringList logs = QDir(glogDir).entryList({"LOG_*.log"}, QDir::Files, QDir::Time);
        return logs.isEmpty() ? QString() : glogDir + logs.first();
    }

    // The record line holding `marker`, or empty.
    QString recordOf(const QString& marker) const
    {
        google::FlushLogFiles(google::GLOG_INFO);
        QFile f(currentInfoLog());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.contains(marker.toUtf8()))
                return QString::fromUtf8(line);
        return {};
    }
};

Backend& backend()
{
    static Backend b;
    return b;
}

const QStringList kBoth = {"default", "level_1"};
const QStringList kLevel1 = {"level_1"};

class LogManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        backend();
        LogManager::setLogInfoLevel(kBoth);
        // Something must have been written for the current log to exist.
        qInfo() << "test start";
    }
    void TearDown() override { LogManager::setLogInfoLevel(kBoth); }

    static QString marker()
    {
        static int n = 0;
        return QString("marker-%1-%2").arg(QCoreApplication::applicationPid()).arg(++n);
    }
};

TEST_F(LogManagerTest, ConstructionTidiedTheEarlierRunsLogs)
{
    const Backend& b = backend();
    QFile previous(b.glogDir + "1_LOG_20240103_080000.txt");
    ASSERT_TRUE(previous.open(QIODevice::ReadOnly));
    EXPECT_EQ(previous.readAll(), "previous run\n");
    EXPECT_FALSE(QFileInfo::exists(b.glogDir + "LOG_20240103-080000.4242.log"));
    EXPECT_TRUE(QFileInfo::exists(b.stdlogDir + "log.txt"));
    EXPECT_TRUE(QFileInfo::exists(b.stdlogDir + "1_log.txt"));
    EXPECT_FALSE(b.currentInfoLog().isEmpty());
}

TEST_F(LogManagerTest, HandlerFiltersByCategoryAndWritesBySeverity)
{
    struct Case {
        QtMsgType type;
        const char* category;
        QStringList list;
        const char* file;
        const char* expected;  // record text after the position; null: nothing written
        char severity;
    };
    const Case cases[] = {
        {QtInfoMsg, "default", kBoth, "/src/flow/flowmanager.cpp", "flowmanager.cpp:77] %1", 'I'},
        {QtInfoMsg, "level_1", kLevel1, "/src/flow/flowmanager.cpp", "flowmanager.cpp:77] %1", 'I'},
        {QtInfoMsg, "default", kLevel1, "/src/flow/flowmanager.cpp", nullptr, 0},
        {QtWarningMsg, "default", kLevel1, "/src/flow/flowmanager.cpp", nullptr, 0},
        {QtCriticalMsg, "default", kLevel1, "/src/flow/flowmanager.cpp", nullptr, 0},
        {QtInfoMsg, "Level_1", kLevel1, "/src/flow/flowmanager.cpp", nullptr, 0},
        {QtInfoMsg, nullptr, kBoth, "/src/flow/flowmanager.cpp", nullptr, 0},
        {QtInfoMsg, "qt.network", kBoth, "/src/flow/flowmanager.cpp", nullptr, 0},
        {QtDebugMsg, "default", kBoth, "/src/flow/flowmanager.cpp", nullptr, 0},
        {QtDebugMsg, "level_1", kBoth, "/src/flow/flowmanager.cpp", nullptr, 0},
        {QtWarningMsg, "level_1", kBoth, "/src/io/vcam_io.cpp", "vcam_io.cpp:77] ---warning--- %1", 'I'},
        {QtCriticalMsg, "default", kBoth, "/src/io/vcam_io.cpp", "] \t%1", 'E'},
        {QtInfoMsg, "default", kBoth, "flowmanager.cpp", "unknow:77] %1", 'I'},
        {QtInfoMsg, "default", kBoth, nullptr, "unknow:77] %1", 'I'},
    };
    for (const Case& c : cases) {
        const QString m = marker();
        LogManager::setLogInfoLevel(c.list);
        LogManager::outputMessage(c.type, QMessageLogContext(c.file, 77, "f", c.category), m);
        const QString record = backend().recordOf(m);
        SCOPED_TRACE(testing::Message() << "type " << c.type << " category " << (c.category ? c.category : "(none)")
                                        << " list " << c.list.join(',').toStdString());
        // A caller that asks first skips exactly the lines that are dropped.
        if (c.type != QtDebugMsg) {
            EXPECT_EQ(LogManager::writes(c.category), c.expected != nullptr);
        }
        if (!c.expected) {
            EXPECT_TRUE(record.isEmpty()) << record.toStdString();
            continue;
        }
        EXPECT_TRUE(record.endsWith(QString(c.expected).arg(m))) << record.toStdString();
        EXPECT_TRUE(record.startsWith(QChar(c.severity))) << record.toStdString();
    }
}

TEST_F(LogManagerTest, QtMacrosReachTheFilesThroughTheHandler)
{
    const QString debugText = marker(), infoText = marker(), level1Text = marker(), hiddenText = marker();
    qDebug() << debugText;
    qCDebug(level_1) << debugText;
    qInfo().noquote() << infoText << "Ünïcode";
    LogManager::setLogInfoLevel(kLevel1);
    qInfo() << hiddenText;
    qCInfo(level_1).noquote() << level1Text;

    const Backend& b = backend();
    EXPECT_TRUE(b.recordOf(debugText).isEmpty());
    EXPECT_TRUE(b.recordOf(hiddenText).isEmpty());
    EXPECT_TRUE(b.recordOf(infoText).endsWith(infoText + " Ünïcode"));
    EXPECT_TRUE(b.recordOf(level1Text).endsWith(level1Text));
}

TEST_F(LogManagerTest, LaterConfigurationLeavesTheBackendAndItsFilesAlone)
{
    Backend& b = backend();
    const QString currentLog = b.currentInfoLog();
    ASSERT_FALSE(currentLog.isEmpty());

    LogManager_Config config;
    config.app_path = "./other";
    config.glog_dir = "/other/log/";
    config.stdlog_dir = "/other/log_stdout/";
    LogManager* second = LogManager::getInstance(config);
    EXPECT_NE(second, b.first);
    EXPECT_EQ(LogManager::getInstance(), second);

    // Again on the folder in use: the running program's files stay as they are.
    LogManager_Config same = b.first->config();
    LogManager::getInstance(same);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    b.first = LogManager::getInstance();

    const QString m = marker();
    qInfo() << m;
    EXPECT_TRUE(google::IsGoogleLoggingInitialized());
    EXPECT_EQ(b.currentInfoLog(), currentLog);
    EXPECT_FALSE(b.recordOf(m).isEmpty());
    const QString other = b.root.path() + "/other/";
    EXPECT_TRUE(QFileInfo(other + "log/").isDir());
    EXPECT_TRUE(QFileInfo(other + "log_stdout/").isDir());
    EXPECT_TRUE(QDir(other + "log/").entryList({"LOG_*"}, QDir::Files).isEmpty());
}

TEST_F(LogManagerTest, FatalMessageIsWrittenAndEndsTheProcess)
{
    const QString m = marker();
    EXPECT_DEATH(LogManager::outputMessage(QtFatalMsg, QMessageLogContext("/a/b.cpp", 1, "f", "default"), m),
                 QString("\t%1").arg(m).toStdString());
}

}  // namespace
