// Project groups on real files: what a backup saves (links kept, missing
// entries skipped, the name cleaned), the names that are refused before a
// file is touched, the switch with its automatic backup and closed
// databases, and copy failures made real by a lowered file-size limit,
// after which the groups and working files are as before.
#include "hub/divuvarude.h"
#include "hub/hubrig.h"
#include "hub/hubtestbench.h"
#include "support/logcapture.h"

#include <QDate>

#include <csignal>
#include <sys/resource.h>

using hubtest::FakeParaHost;
using hubtest::ParamConnection;
using hubtest::WorkDir;
using hubtest::sqlite3;

namespace {

// Files may not grow beyond `bytes` while it lives (writes beyond fail with
// EFBIG instead of killing the process).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_saved;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
};

// The working entries of a camera: two image folders (one with a link),
// the flow workspace and PARAM.db; no RECORD.db and no "originalimage".
class GroupBench {
public:
    GroupBench() : pc(wd.file("PARAM.db"))
    {
        wd.dir().write("cammer11/template00.bmp", "t1");
        wd.dir().write("cammer12/template00.bmp", "t2");
        QFile::link("template00.bmp", wd.file("cammer11/current.bmp"));
        wd.dir().write("workspace/flow.json", "{}");
        wd.dir().write("other.txt", "not a working entry");
        para.setHost(&host);
    }
    QString projectName() const { return sqlite3(wd.file("PARAM.db"), "select value from sysparam where name='project_name';"); }
    QString read(const QString& name) const
    {
        QFile f(wd.file(name));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QStringLiteral("<none>");
    }
    QStringList entries(const QString& dir) const
    {
        return QDir(wd.file(dir)).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

    WorkDir wd;
    ParamConnection pc;
    FakeParaHost host;
    WizardPara para;
};

}  // namespace

TEST(ProjectGroupTest, ABackupSavesTheWorkingEntriesUnderTheCleanedNameWhichItsParamDbNames)
{
    GroupBench b;
    ASSERT_TRUE(b.para.BackupProject(" a b \\c"));
    EXPECT_EQ(b.projectName(), "abc");
    EXPECT_EQ(b.entries("paraGroup"), (QStringList{"abc", "default"})) << "no staging left";
    EXPECT_EQ(b.entries("paraGroup/abc"), (QStringList{"PARAM.db", "cammer11", "cammer12", "workspace"}));
    EXPECT_EQ(sqlite3(b.wd.file("paraGroup/abc/PARAM.db"), "select value from sysparam where name='project_name';"),
              "abc");
    const QFileInfo link(b.wd.file("paraGroup/abc/cammer11/current.bmp"));
    EXPECT_TRUE(link.isSymLink());
    EXPECT_EQ(QFile::symLinkTarget(link.filePath()), b.wd.file("paraGroup/abc/cammer11/template00.bmp"));
    EXPECT_EQ(b.read("paraGroup/abc/workspace/flow.json"), "{}");

    // A second backup replaces the group whole.
    QFile::remove(b.wd.file("cammer12/template00.bmp"));
    ASSERT_TRUE(b.para.BackupProject("abc"));
    EXPECT_EQ(b.entries("paraGroup/abc/cammer12"), QStringList{});
    EXPECT_EQ(b.para.GetProjectList(), (QStringList{"abc", "abc"}));
}

TEST(ProjectGroupTest, NamesThatAreNotOnePlainDirectoryNameAreRefusedBeforeAnyFileWork)
{
    GroupBench b;
    b.wd.dir().write("paraGroup/keep/PARAM.db", "k");
    b.pc.put("project_name", "keep");
    const QStringList before = b.entries("paraGroup");
    const QString bad[] = {"", "  ", "..", ".", ".hidden", "../workspace", "a/b", "/tmp/x", QString("a\x01") + "b",
                           "default"};
    for (const QString& name : bad) {
        testsupport::LogCapture log;
        EXPECT_FALSE(b.para.BackupProject(name)) << name.toStdString();
        EXPECT_FALSE(b.para.DeleteProject(name)) << name.toStdString();
        if (name != "default") {
            EXPECT_FALSE(b.para.ChangeProject(name)) << name.toStdString();
        }
        EXPECT_TRUE(name.trimmed().isEmpty() || log.reachesLogFiles("refused")) << name.toStdString();
    }
    EXPECT_FALSE(b.para.DeleteProject("keep")) << "the current group";
    EXPECT_EQ(b.entries("paraGroup"), before);
    EXPECT_EQ(b.projectName(), "keep");
    EXPECT_TRUE(QFileInfo(b.wd.file("workspace/flow.json")).exists());
    EXPECT_TRUE(b.host.databaseCalls.isEmpty());

    // A name with characters a shell would act on is only a name.
    ASSERT_TRUE(b.para.BackupProject("x;reboot"));
    EXPECT_TRUE(QFileInfo(b.wd.file("paraGroup/x;reboot/PARAM.db")).exists());
    ASSERT_TRUE(b.para.BackupProject("产品一"));
    EXPECT_TRUE(QFileInfo(b.wd.file("paraGroup/产品一/PARAM.db")).exists()) << "UTF-8 names are found again";
    b.pc.put("project_name", "keep");
    EXPECT_TRUE(b.para.DeleteProject("产品一"));
    EXPECT_FALSE(QFileInfo(b.wd.file("paraGroup/产品一")).exists());
    EXPECT_FALSE(b.para.DeleteProject("产品一")) << "gone";
}

TEST(ProjectGroupTest, DeletingAGroupNeverFollowsItsLinks)
{
    GroupBench b;
    b.wd.dir().write("outside/precious.txt", "p");
    QDir().mkpath(b.wd.file("paraGroup/old"));
    QFile::link(b.wd.file("outside"), b.wd.file("paraGroup/old/cammer11"));
    EXPECT_TRUE(b.para.DeleteProject("old"));
    EXPECT_FALSE(QFileInfo(b.wd.file("paraGroup/old")).exists());
    EXPECT_EQ(b.read("outside/precious.txt"), "p");
}

TEST(ProjectGroupTest, ASwitchSavesTheCurrentFilesFirstAndBringsTheGroupsFiles)
{
    hubtest::HubRig rig(false);
    WizardPara& para = *rig.hub->params();
    rig.wd.dir().write("cammer11/template00.bmp", "working");
    rig.wd.dir().write("workspace/flow.json", "working flow");
    rig.wd.dir().write("paraGroup/beta/cammer11/template00.bmp", "beta");
    rig.wd.dir().write("paraGroup/beta/workspace/flow.json", "beta flow");
    QFile::copy(rig.wd.file("PARAM.db"), rig.wd.file("paraGroup/beta/PARAM.db"));
    sqlite3(rig.wd.file("paraGroup/beta/PARAM.db"), "insert into sysparam values ('project_name', 'beta');");

    ASSERT_TRUE(para.ChangeProject("beta"));
    const QString backup = "backup_" + QDate::currentDate().toString("yyyyMMdd");
    EXPECT_FALSE(paramDatabase().isOpen()) << "closed for the restart";
    QFile working(rig.wd.file("paraGroup/" + backup + "/cammer11/template00.bmp"));
    ASSERT_TRUE(working.open(QIODevice::ReadOnly));
    EXPECT_EQ(working.readAll(), "working");
    QFile flow(rig.wd.file("workspace/flow.json"));
    ASSERT_TRUE(flow.open(QIODevice::ReadOnly));
    EXPECT_EQ(flow.readAll(), "beta flow");
    EXPECT_EQ(sqlite3(rig.wd.file("PARAM.db"), "select value from sysparam where name='project_name';"), "beta");
    EXPECT_FALSE(QFileInfo(rig.wd.file("cammer12")).exists()) << "only the group's entries";
    EXPECT_TRUE(QDir(rig.wd.path()).entryList({".*-*"}, QDir::AllEntries | QDir::Hidden).isEmpty()) << "no staging left";
}

TEST(ProjectGroupTest, AMissingGroupChangesNothing)
{
    GroupBench b;
    EXPECT_FALSE(b.para.ChangeProject("missing"));
    EXPECT_TRUE(b.host.databaseCalls.isEmpty());
    EXPECT_EQ(b.entries("paraGroup"), QStringList{"default"});
    EXPECT_EQ(b.read("cammer11/template00.bmp"), "t1");
}

TEST(ProjectGroupTest, CopyFailuresLeaveTheGroupsAndTheWorkingFilesAsTheyWere)
{
    GroupBench b;
    b.wd.dir().write("paraGroup/abc/marker", "old group");
    b.pc.put("project_name", "before");
    b.wd.dir().write("cammer13/big.bmp", QByteArray(300000, 'b'));
    {
        FileSizeLimit limit(200000);
        testsupport::LogCapture log;
        EXPECT_FALSE(b.para.BackupProject("abc"));
        EXPECT_TRUE(log.reachesLogFiles("cannot copy"));
        EXPECT_TRUE(log.reachesLogFiles("project group backup abc failed"));
    }
    EXPECT_EQ(b.entries("paraGroup/abc"), QStringList{"marker"});
    EXPECT_EQ(b.entries("paraGroup"), (QStringList{"abc", "default"}));
    EXPECT_EQ(b.projectName(), "before");

    // A switch whose backup fails does not switch.
    QFile::remove(b.wd.file("paraGroup/abc/marker"));
    b.wd.dir().write("paraGroup/abc/cammer11/template00.bmp", "abc");
    {
        FileSizeLimit limit(200000);
        EXPECT_FALSE(b.para.ChangeProject("abc"));
    }
    EXPECT_TRUE(b.host.databaseCalls.isEmpty());
    EXPECT_EQ(b.read("cammer11/template00.bmp"), "t1");

    // A group that cannot be staged is not switched to.
    QFile::remove(b.wd.file("cammer13/big.bmp"));
    b.wd.dir().write("paraGroup/abc/cammer12/big.bmp", QByteArray(300000, 'g'));
    {
        FileSizeLimit limit(200000);
        EXPECT_FALSE(b.para.ChangeProject("abc"));
    }
    EXPECT_TRUE(b.host.databaseCalls.isEmpty()) << "the databases stay open";
    EXPECT_EQ(b.read("cammer11/template00.bmp"), "t1");
    EXPECT_EQ(b.read("workspace/flow.json"), "{}");
    EXPECT_EQ(b.entries("."), (QStringList{"PARAM.db", "RECORDNULL.db", "cammer11", "cammer12", "cammer13", "other.txt",
                                          "paraGroup", "workspace"}));
}
