// Production statistics beside plain references in the same run:
//   - cycle: one mould cycle counted (every step, the cycle, the hand-over of
//            the save to the database thread, the log lines) with the writer
//            running; reference: plain increments of the same counters and
//            one queued hand-over of a copied struct to another thread.
//   - history: the day history of 30 days x 24 stored hours; reference: a
//            plain select of the same rows and QJsonDocument::fromJson of each.
//   - fsync: a simulated hour at 6 cycles and one minute tick a minute, the
//            program re-run under strace -f -c; reference: the same saves
//            written the plain way (a connection opened per save, the hour
//            row auto-committed, then a counter transaction, rollback journal).
// Medians of many runs; the ratios are printed at the end.
#include "platform/system/commandrunner.h"
#include "platform/system/dataroot.h"
#include "statistics/productstatisticsdatabase.h"
#include "statistics/stage_productstatistics.h"
#include "statistics/statisticsclock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Log lines are formatted and then dropped: the log back end's cost is not
// the statistics' to measure.
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

void waitSettled(ProductstatisticsDatabase& db)
{
    QDeadlineTimer deadline(10000);
    while (db.committedSaves() != db.submittedSaves() && !deadline.hasExpired())
        QThread::usleep(200);
}

// ---- cycle counting ----

struct PlainCounts {
    int ok = 0, ng = 0;
    std::vector<int> okCam, ngCam;
    std::vector<std::vector<int>> stepOk, stepNg;
};

class Sink : public QObject {
public:
    PlainCounts last;
};

std::pair<double, double> cycleFigures(int cameras, int steps)
{
    const int cycles = 3000;
    stage_productstatistics stats;
    stats.init(steps, cameras, "bench");
    QVector<bool> results(cameras, true);
    std::vector<double> ours;
    for (int n = 0; n < cycles; ++n) {
        results[n % cameras] = (n % 7) != 0;
        QElapsedTimer t;
        t.start();
        for (int s = 0; s < steps; ++s)
            stats.updateSingleRecord(s, results);
        stats.updateCycleRecord();
        ours.push_back(t.nsecsElapsed() / 1000.0);
        results[n % cameras] = true;
        if (n % 64 == 0)
            QCoreApplication::processEvents();
    }
    waitSettled(stats.database());

    QThread thread;
    Sink sink;
    sink.moveToThread(&thread);
    thread.start();
    PlainCounts plain;
    plain.okCam.assign(cameras, 0);
    plain.ngCam.assign(cameras, 0);
    plain.stepOk.assign(steps, std::vector<int>(cameras, 0));
    plain.stepNg.assign(steps, std::vector<int>(cameras, 0));
    std::vector<double> ref;
    std::vector<bool> flags(cameras, true);
    for (int n = 0; n < cycles; ++n) {
        results[n % cameras] = (n % 7) != 0;
        QElapsedTimer t;
        t.start();
        bool cycleOk = true;
        for (int s = 0; s < steps; ++s) {
            for (int c = 0; c < cameras; ++c) {
                ++(results[c] ? plain.stepOk[s][c] : plain.stepNg[s][c]);
                flags[c] = flags[c] && results[c];
                cycleOk = cycleOk && results[c];
            }
        }
        for (int c = 0; c < cameras; ++c) {
            ++(flags[c] ? plain.okCam[c] : plain.ngCam[c]);
            flags[c] = true;
        }
        ++(cycleOk ? plain.ok : plain.ng);
        PlainCounts copy = plain;
        QMetaObject::invokeMethod(&sink, [&sink, copy] { sink.last = copy; }, Qt::QueuedConnection);
        ref.push_back(t.nsecsElapsed() / 1000.0);
        results[n % cameras] = true;
    }
    thread.quit();
    thread.wait();
    return {median(ours), median(ref)};
}

// ---- history ----

void fillHistory(int days)
{
    ProductstatisticsDatabase db;
    db.init();
    QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", "fill");
    c.setDatabaseName(ProductstatisticsDatabase::fileName());
    c.open();
    QSqlQuery q(c);
    q.exec("BEGIN");
    q.prepare("INSERT OR REPLACE INTO resstatistics (name, value) VALUES (?, ?)");
    const QDateTime first(QDate(2024, 4, 1), QTime(0, 0));
    for (int h = 0; h < days * 24; ++h) {
        const QDateTime t = first.addSecs(3600LL * h);
        stru_StatisticsInfo info;
        info.reset(statistics::hourKeyOf(t), 2, 2, "bench");
        info.detect_ok = 300 + h % 17;
        info.detect_ok_detail = {150, 160};
        info.every_detect[0].detect_ok = 290;
        info.runtime = 50;
        info.stoptime = 10;
        q.addBindValue(info.hourKey);
        q.addBindValue(QString::fromUtf8(ProductstatisticsDatabase::hourRowText({{"bench", info}})));
        q.exec();
    }
    q.exec("COMMIT");
    q = QSqlQuery();
    c.close();
    c = QSqlDatabase();
    QSqlDatabase::removeDatabase("fill");
}

std::pair<double, double> historyFigures(int days, int* bytesPerRow)
{
    const QDateTime start(QDate(2024, 4, 1), QTime(15, 0)), end(QDate(2024, 4, days), QTime(23, 0));
    std::vector<double> ours, ref;
    for (int run = 0; run < 30; ++run) {
        QElapsedTimer t;
        t.start();
        QJsonObject out;
        ProductstatisticsDatabase::loadDayCount(start, end, out, "bench");
        benchmark::DoNotOptimize(out);
        ours.push_back(t.nsecsElapsed() / 1000.0);

        t.restart();
        {
            QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", "plain");
            c.setDatabaseName(ProductstatisticsDatabase::fileName());
            c.open();
            QSqlQuery q(c);
            q.setForwardOnly(true);
            q.prepare("select name, value from resstatistics where name between ? and ? order by name asc");
            q.addBindValue(statistics::hourKeyOf(QDateTime(start.date(), QTime(0, 0))));
            q.addBindValue(statistics::hourKeyOf(end));
            q.exec();
            int bytes = 0, rows = 0;
            while (q.next()) {
                const QByteArray v = q.value(1).toByteArray();
                bytes += v.size();
                ++rows;
                QJsonDocument doc = QJsonDocument::fromJson(v);
                benchmark::DoNotOptimize(doc);
            }
            *bytesPerRow = rows ? bytes / rows : 0;
            q = QSqlQuery();
            c.close();
        }
        QSqlDatabase::removeDatabase("plain");
        ref.push_back(t.nsecsElapsed() / 1000.0);
    }
    return {median(ours), median(ref)};
}

// ---- fsync counts (child side) ----

constexpr int kMinuteMs = 120;  // one simulated minute in real time

// Ours: the front end's writer, each save its own transaction (no
// coalescing), a checkpoint every five simulated minutes.
int simulateOurs()
{
    stage_productstatistics stats;
    stats.init(2, 2, "bench");
    stats.database().setCheckpointInterval(5 * kMinuteMs);
    QElapsedTimer clock;
    clock.start();
    for (int minute = 0; minute < 60; ++minute) {
        for (int c = 0; c < 6; ++c) {
            stats.updateSingleRecord(0, {true, true});
            stats.updateSingleRecord(1, {true, c != 3});
            stats.updateCycleRecord();
            waitSettled(stats.database());
        }
        stats.slotMinuteTick();
        waitSettled(stats.database());
        while (clock.elapsed() < (minute + 1) * kMinuteMs)
            QThread::msleep(1);
    }
    return int(stats.database().committedSaves());
}

// The plain way, same records and counters.
int simulatePlain()
{
    ProductstatisticsDatabase setup;
    setup.init();
    {
        QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", "mode");
        c.setDatabaseName(ProductstatisticsDatabase::fileName());
        c.open();
        QSqlQuery(c).exec("PRAGMA journal_mode=DELETE");
        c.close();
    }
    QSqlDatabase::removeDatabase("mode");
    stru_StatisticsInfo info;
    info.reset("2024-05-01 10", 2, 2, "bench");
    StatisticsLive live;
    live.starttime = "2024-05-01 09:00:00";
    int saves = 0;
    for (int n = 0; n < 60 * 7; ++n) {
        ++info.detect_ok;
        ++live.detect_ok;
        {
            QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", "dbStatistics");
            c.setDatabaseName(ProductstatisticsDatabase::fileName());
            c.open();
            QSqlQuery q(c);
            q.prepare("INSERT OR REPLACE INTO resstatistics (name, value) VALUES (?, ?)");
            q.addBindValue(info.hourKey);
            q.addBindValue(QString::fromUtf8(ProductstatisticsDatabase::hourRowText({{"bench", info}})));
            q.exec();
            c.transaction();
            const QVariantMap params = live.toParams();
            for (auto it = params.begin(); it != params.end(); ++it) {
                q.prepare("UPDATE statisticsparam SET value = ? WHERE name = ?");
                q.addBindValue(it.value());
                q.addBindValue(it.key());
                q.exec();
            }
            c.commit();
            q = QSqlQuery();
            c.close();
        }
        QSqlDatabase::removeDatabase("dbStatistics");
        ++saves;
    }
    return saves;
}

// Runs this program under strace for one side; fsync + fdatasync calls.
int countSyncs(const char* side, int* saves)
{
    QTemporaryDir dir;
    const QString summary = dir.filePath("strace.txt");
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start("strace", {"-f", "-c", "-e", "trace=fsync,fdatasync", "-o", summary,
                       QCoreApplication::applicationFilePath(), QString("--fsync-run=%1").arg(side)});
    if (!p.waitForFinished(120000) || p.exitCode() != 0)
        return -1;
    *saves = QString::fromLatin1(p.readAllStandardOutput()).trimmed().section(' ', -1).toInt();
    QFile f(summary);
    f.open(QIODevice::ReadOnly);
    int calls = 0;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> cols = line.simplified().split(' ');
        if (cols.size() >= 5 && (cols.last() == "fsync" || cols.last() == "fdatasync"))
            calls += cols.at(3).toInt();
    }
    return calls;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    // Nothing here touches the machine: commands are recorded, not run.
    platform::CommandRunner::instance().setMode(platform::CommandRunner::Mode::Simulated);
    platform::CommandRunner::instance().setQueriesFromFixturesOnly(true);
    QTemporaryDir root;
    platform::DataRoot::setRoot(root.path());
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == "--fsync-run=ours" || arg == "--fsync-run=plain") {
            const int saves = arg.endsWith("ours") ? simulateOurs() : simulatePlain();
            std::printf("saves %d\n", saves);
            return 0;
        }
    }

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    std::printf("statistics benchmark (medians, microseconds)\n");
    for (auto [cameras, steps] : {std::pair<int, int>{4, 2}, {8, 4}}) {
        QFile::remove(ProductstatisticsDatabase::fileName());
        const auto [ours, ref] = cycleFigures(cameras, steps);
        std::printf("cycle %d cameras x %d steps: ours %.2f us, plain increments + queued copy %.2f us, ratio %.2f\n",
                    cameras, steps, ours, ref, ref > 0 ? ours / ref : 0);
    }

    QFile::remove(ProductstatisticsDatabase::fileName());
    fillHistory(30);
    int bytes = 0;
    const auto [ours, ref] = historyFigures(30, &bytes);
    std::printf("history 30 days x 24 rows (%d bytes a row): ours %.0f us, select + fromJson %.0f us, ratio %.2f\n",
                bytes, ours, ref, ref > 0 ? ours / ref : 0);

    if (QProcess::execute("strace", {"-V"}) != 0) {
        std::printf("fsync: strace not available, skipped\n");
        return 0;
    }
    int oursSaves = 0, plainSaves = 0;
    const int oursSyncs = countSyncs("ours", &oursSaves);
    const int plainSyncs = countSyncs("plain", &plainSaves);
    if (oursSyncs < 0 || plainSyncs < 0 || oursSaves == 0 || plainSaves == 0) {
        std::printf("fsync: strace run failed (ptrace not permitted?), skipped\n");
        return 0;
    }
    std::printf("fsync, one hour at 6 cycles a minute: ours %d syncs / %d saves = %.2f a save; "
                "plain %d / %d = %.2f a save; ratio %.2f\n",
                oursSyncs, oursSaves, double(oursSyncs) / oursSaves, plainSyncs, plainSaves,
                double(plainSyncs) / plainSaves,
                (double(oursSyncs) / oursSaves) / (double(plainSyncs) / plainSaves));
    return 0;
}
