// Durability of PARAM.db and RECORD.db: a helper process stores parameter
// sets and writes records across forced daily moves and is killed (SIGKILL)
// at random moments, several times over the same files. Afterwards every
// file passes SQLite's integrity check with the rollback journal (no WAL),
// the stored parameter set is one of the two whole sets, and every entry the
// helper reported is in RECORD.db or a history file.
#include "hub/hubtestbench.h"

#include <QJsonDocument>
#include <QProcess>
#include <QThread>
#include <QRandomGenerator>
#include <QSet>

using hubtest::WorkDir;
using hubtest::sqlite3;

TEST(HubDurabilityTest, KilledWritersLeaveWholeFilesAndKeepEveryReportedEntry)
{
    WorkDir wd;
    QFile::copy(wd.file("paraGroup/default/PARAM.db"), wd.file("PARAM.db"));
    const quint32 seed = QRandomGenerator::global()->generate();
    QRandomGenerator random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));

    QSet<QString> reported;
    for (int round = 0; round < 6; ++round) {
        QProcess helper;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ORVALE_DEVICE_ID", "durability");
        helper.setProcessEnvironment(env);
        helper.start(HUB_DURABILITY_HELPER, {wd.path()});
        ASSERT_TRUE(helper.waitForStarted(5000));
        QByteArray out;
        while (!out.contains("READY\n") && helper.waitForReadyRead(10000))
            out += helper.readAllStandardOutput();
        ASSERT_TRUE(out.contains("READY\n")) << helper.readAllStandardError().toStdString();
        QThread::msleep(50 + random.bounded(400));
        helper.kill();
        ASSERT_TRUE(helper.waitForFinished(30000));
        out += helper.readAllStandardOutput();
        for (const QByteArray& line : out.split('\n')) {
            if (line.startsWith("R "))
                reported.insert(QStringLiteral("entry ") + QString::fromLatin1(line.mid(2)));
        }
    }
    ASSERT_GT(reported.size(), 0);

    QStringList files{wd.file("PARAM.db"), wd.file("RECORD.db")};
    for (const QString& f : QDir(wd.file("history")).entryList({"*.db"}, QDir::Files))
        files << wd.file("history/" + f);
    EXPECT_GE(files.size(), 3) << "the forced moves made history files";
    QSet<QString> kept;
    for (const QString& f : files) {
        EXPECT_EQ(sqlite3(f, "pragma integrity_check;"), "ok") << f.toStdString();
        EXPECT_EQ(sqlite3(f, "pragma journal_mode;"), "delete") << f.toStdString();
        EXPECT_FALSE(QFile::exists(f + "-wal")) << f.toStdString();
        if (f.endsWith("PARAM.db"))
            continue;
        for (const QString& r : sqlite3(f, "select remarks from RECORD;").split('\n'))
            kept.insert(r);
    }
    for (const QString& entry : reported)
        EXPECT_TRUE(kept.contains(entry)) << entry.toStdString() << " was reported but is lost";

    const QJsonObject stored =
        QJsonDocument::fromJson(sqlite3(wd.file("PARAM.db"), "select value from sysparam where name='paramsjson';").toUtf8())
            .object();
    const int filter = stored.value("s_filtersize").toInt();
    const int area = stored.value("s_alarmareas").toInt();
    EXPECT_TRUE((filter == 5 && area == 500) || (filter == 9 && area == 900)) << filter << " " << area;
    EXPECT_EQ(sqlite3(wd.file("PARAM.db"), "select count(*) from sysparam where name='paramsjson';"), "1");
}
