// Three real cameras guarding one mould: a main camera and two sub cameras,
// each the whole program with its monitor daemon on a host of its own of
// the private test LAN, the IO module simulator on the LAN's bridge
// (tests/support/orvalegroup.h). An input-0 edge makes the main camera ask
// both subs; the machine may close only when every camera looked at a
// fresh frame and passed. A sub that sees a defect, or that is gone, holds
// the machine, with the reason in the main camera's files. A stall of the
// host in the middle of a cycle never lets that cycle pass unseen, and the
// group runs again once the operator has released what it holds.
//
// Needs root (network namespaces); skips otherwise.
#include "support/orvalegroup.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <gtest/gtest.h>

namespace {

using orvalegroup::Camera;
using orvalegroup::OrvaleGroup;
using orvalegroup::spinUntil;

// How many rows of the work-event reports in the camera's log files say
// that `camera` ("main", "sub_0", "sub_1") answered `result` ("ok", "ng").
int reportRows(const Camera& c, const QString& camera, const QString& result)
{
    const QByteArray row =
        ("] * " + camera.leftJustified(15, QLatin1Char(' ')) + " " + result.leftJustified(15, QLatin1Char(' ')))
            .toUtf8();
    return int(c.logText().count(row));
}

// The report rows of every camera of the group that answered `result`.
QList<int> groupRows(const Camera& c, const QString& result)
{
    return {reportRows(c, "main", result), reportRows(c, "sub_0", result), reportRows(c, "sub_1", result)};
}

// Waits (the log is written in batches) until every count of `rows` has
// grown by `by` over `before`.
bool rowsGrow(const Camera& c, const QString& result, const QList<int>& before, int by)
{
    return spinUntil(
        [&] {
            const QList<int> now = groupRows(c, result);
            for (int i = 0; i < now.size(); ++i)
                if (now[i] - before[i] < by)
                    return false;
            return true;
        },
        60000);
}

#define GROUP_OR_SKIP(group)   \
    if (!(group).ok())         \
    GTEST_SKIP() << "no camera group here: " << (group).why().toStdString()

std::string tail(const Camera& c)
{
    return c.id.toStdString() + "'s log:\n" + QString::fromUtf8(c.logText().right(6000)).toStdString();
}

// Starts the group and brings it up.
void bringUp(OrvaleGroup& group)
{
    const QString why = group.start();
    ASSERT_TRUE(why.isEmpty()) << why.toStdString();
    const QString up = group.bringUp();
    ASSERT_TRUE(up.isEmpty()) << up.toStdString() << "\n" << tail(group.main());
}

// Opens the mould (input 0 rises with the door closed) and waits for the
// module to be sent `last`; the words it was sent since, and who sent them.
QStringList openTheMould(OrvaleGroup& group, const QString& last, QSet<QString>* senders)
{
    group.io->clearReceived();
    group.io->setInputs(0b11);
    group.waitForLastWord(last);
    return group.outputWords(senders);
}

// The liveness record a camera's daemon answers with, when it answers 0.
QJsonObject livenessRecord(const Camera& c)
{
    const QJsonObject s = c.daemonState();
    return s.value("code").toInt(-99) == 0 ? s.value("result").toObject() : QJsonObject();
}

// The operator routes the run state names for releasing a held machine.
QStringList releaseActions(const QJsonObject& runState)
{
    QStringList routes;
    for (const QJsonValue& v : runState.value("release_actions").toArray())
        routes << v.toString();
    return routes;
}

// The UDP ports bound in the camera's network namespace.
QSet<int> udpPorts(const Camera& c)
{
    QSet<int> ports;
    QFile f(QStringLiteral("/proc/%1/net/udp").arg(c.orvalePid()));
    if (!f.open(QIODevice::ReadOnly))
        return ports;
    for (const QByteArray& line : f.readAll().split('\n').mid(1)) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 1)
            ports.insert(fields.at(1).mid(fields.at(1).indexOf(':') + 1).toInt(nullptr, 16));
    }
    return ports;
}

TEST(OrvaleGroup, EveryCameraLooksAndALostSubHoldsTheMachineUntilItIsBack)
{
    OrvaleGroup group(2);
    GROUP_OR_SKIP(group);
    ASSERT_NO_FATAL_FAILURE(bringUp(group));
    Camera& main = group.main();

    // One edge: the main camera's event holds every camera's unit, and the
    // module gets exactly what a lone camera sends it, from the main only.
    const QList<int> okBefore = groupRows(main, "ok");
    QSet<QString> senders;
    const QStringList words = openTheMould(group, "00000000", &senders);
    EXPECT_EQ(words, (QStringList{"11000000", "10000000", "00000000"})) << tail(main);
    EXPECT_EQ(senders, QSet<QString>{main.address()});
    group.io->setInputs(0b10);
    // The product and the mould unit, each with all three cameras' units.
    EXPECT_TRUE(rowsGrow(main, "ok", okBefore, 2)) << tail(main);

    // Every daemon answers its own camera's record; the main camera's says
    // every sub is connected. Nothing listens on 3956 or 10400.
    for (int i = 0; i < group.size(); ++i) {
        Camera& c = group.camera(i);
        EXPECT_TRUE(spinUntil([&] { return livenessRecord(c).value("main_alive").toInt() == 1; }, 60000))
            << c.id.toStdString() << ": " << QJsonDocument(c.daemonState()).toJson().toStdString();
        const QSet<int> ports = udpPorts(c);
        EXPECT_FALSE(ports.isEmpty()) << c.id.toStdString();
        EXPECT_FALSE(ports.contains(3956)) << c.id.toStdString();
        EXPECT_FALSE(ports.contains(10400)) << c.id.toStdString();
    }
    EXPECT_EQ(livenessRecord(main).value("cams_cnted").toInt(-1), 1);
    EXPECT_EQ(main.recorded(QStringLiteral("多相机连接出现中断")), 0);

    // The camera search the main camera broadcasts when a sub is lost, and
    // the discovery answers of the daemons, both heard on the bridge.
    QUdpSocket search;
    ASSERT_TRUE(search.bind(QHostAddress::AnyIPv4, 10412, QUdpSocket::ShareAddress));
    QUdpSocket discovery;
    ASSERT_TRUE(discovery.bind(QHostAddress(PrivateLan::bridgeAddress()), 10410));
    auto heard = [](QUdpSocket& s, QList<QNetworkDatagram>* into) {
        while (s.hasPendingDatagrams())
            into->append(s.receiveDatagram());
    };

    // Sub 1 dies at once.
    const qint64 subPid = group.camera(1).orvalePid();
    ASSERT_GT(subPid, 0);
    group.killProgram(1);
    EXPECT_TRUE(spinUntil(
        [&] {
            const QJsonObject s = main.runState();
            return s.value("state").toInt() == -1 && s.value("state_describe").toString() == "单元组异常-丢失子相机";
        },
        20000))
        << QJsonDocument(main.runState()).toJson().toStdString();
    QList<QNetworkDatagram> searches;
    EXPECT_TRUE(spinUntil(
        [&] {
            heard(search, &searches);
            for (const QNetworkDatagram& d : searches)
                if (d.data() == "<A;21;Camera>" && d.senderAddress().toIPv4Address() ==
                                                       QHostAddress(main.address()).toIPv4Address())
                    return true;
            return false;
        },
        20000));
    EXPECT_TRUE(spinUntil([&] { return main.recorded(QStringLiteral("多相机连接出现中断")) == 1; }, 20000));

    // An edge while it is gone: no OK, the outputs stay cut, and the
    // main camera's log says why.
    group.io->clearReceived();
    group.io->setInputs(0b11);
    spinUntil([] { return false; }, 8000);
    const QStringList whileLost = group.outputWords();
    EXPECT_FALSE(whileLost.contains("10000000")) << whileLost.join(' ').toStdString();
    for (const QString& w : whileLost)
        EXPECT_EQ(w, "00000000") << whileLost.join(' ').toStdString();
    EXPECT_TRUE(spinUntil([&] { return main.logText().contains("多相机连接出现中断 - every output cut"); }, 40000))
        << tail(main);
    group.io->setInputs(0b10);

    // Its daemon finds it crashed once the record is 40 s old, and still
    // answers discovery; the main camera's next record says a sub is lost.
    Camera& sub1 = group.camera(1);
    EXPECT_TRUE(spinUntil(
        [&] {
            const QJsonObject s = sub1.daemonState();
            return s.value("code").toInt() == -3 && s.value("msg").toString() == "相机程序崩溃";
        },
        60000))
        << QJsonDocument(sub1.daemonState()).toJson().toStdString();
    EXPECT_TRUE(spinUntil([&] { return livenessRecord(main).value("cams_cnted").toInt(-1) == 0; }, 45000))
        << QJsonDocument(main.daemonState()).toJson().toStdString();
    discovery.writeDatagram("<A;21;APP>", QHostAddress(sub1.address()), 10419);
    QList<QNetworkDatagram> answers;
    EXPECT_TRUE(spinUntil(
        [&] {
            heard(discovery, &answers);
            return !answers.isEmpty();
        },
        10000));
    if (!answers.isEmpty()) {
        EXPECT_TRUE(answers.first().data().startsWith("<CD;21;GSUB01;")) << answers.first().data().toStdString();
    }
    EXPECT_EQ(main.recorded(QStringLiteral("多相机连接出现中断")), 1) << "recorded once";

    // Sub 1 comes back: the group pairs again and the next edge holds
    // every camera's unit again.
    ASSERT_TRUE(group.startProgram(1).isEmpty());
    EXPECT_TRUE(spinUntil([&] { return main.recorded(QStringLiteral("初始化成功!")) == 2; }, 90000)) << tail(main);
    ASSERT_TRUE(spinUntil([&] { return sub1.runState().value("fps").toInt() >= 1; }, 90000));
    spinUntil([] { return false; }, 1500);
    const QList<int> okAgain = groupRows(main, "ok");
    const QStringList again = openTheMould(group, "00000000", nullptr);
    EXPECT_EQ(again, (QStringList{"11000000", "10000000", "00000000"})) << tail(main);
    group.io->setInputs(0b10);
    EXPECT_TRUE(rowsGrow(main, "ok", okAgain, 2)) << tail(main);
    EXPECT_TRUE(spinUntil([&] { return livenessRecord(main).value("cams_cnted").toInt(-1) == 1; }, 45000))
        << QJsonDocument(main.daemonState()).toJson().toStdString();
    EXPECT_TRUE(spinUntil([&] { return livenessRecord(sub1).value("main_alive").toInt() == 1; }, 45000))
        << QJsonDocument(sub1.daemonState()).toJson().toStdString();
}

TEST(OrvaleGroup, ADefectSeenBySubTwoStopsTheMachine)
{
    OrvaleGroup group(2, {2});
    GROUP_OR_SKIP(group);
    ASSERT_NO_FATAL_FAILURE(bringUp(group));
    Camera& main = group.main();

    QSet<QString> senders;
    const QStringList words = openTheMould(group, "11100000", &senders);
    EXPECT_EQ(words, (QStringList{"11000000", "11100000"})) << tail(main);
    EXPECT_EQ(senders, QSet<QString>{main.address()});
    // The flow is stopped (run state 2) on the product unit's NG.
    const QJsonObject state = main.runState();
    EXPECT_TRUE(state.value("sys_stop").toBool()) << QJsonDocument(state).toJson().toStdString();
    EXPECT_EQ(state.value("state").toInt(), 3) << QJsonDocument(state).toJson().toStdString();
    EXPECT_EQ(releaseActions(state), (QStringList{"/dide/action/noactionmold", "/dide/action/redetect",
                                                  "/dide/action/addtemplate"}));
    // The reason in the main camera's log files: sub 2's unit came back NG,
    // every other one OK.
    EXPECT_TRUE(spinUntil([&] { return reportRows(main, "sub_1", "ng") == 1; }, 60000)) << tail(main);
    EXPECT_EQ(groupRows(main, "ok"), (QList<int>{1, 1, 0})) << tail(main);
    EXPECT_EQ(groupRows(main, "ng"), (QList<int>{0, 0, 1})) << tail(main);

    // The operator ends the alarm (the door opens and closes): the NG
    // picture is filed where it was taken, on sub 2 only.
    group.io->setInputs(0b01);
    ASSERT_TRUE(group.waitForLastWord("11000000")) << group.outputWords().join(' ').toStdString();
    group.io->setInputs(0b11);
    Camera& sub2 = group.camera(2);
    EXPECT_TRUE(spinUntil([&] { return !sub2.alarmImages().isEmpty(); }, 30000)) << tail(sub2);
    spinUntil([] { return false; }, 2000);
    EXPECT_TRUE(main.alarmImages().isEmpty()) << main.alarmImages().join(' ').toStdString();
    EXPECT_TRUE(group.camera(1).alarmImages().isEmpty()) << group.camera(1).alarmImages().join(' ').toStdString();
    for (const QString& f : sub2.alarmImages())
        EXPECT_TRUE(f.contains("/NG/")) << f.toStdString();
}

// The users who asked for each record of `text` in the camera's RECORD.db.
QStringList recordUsers(const Camera& c, const QString& text)
{
    if (!QFile::exists(c.record()))
        return {};
    return testsupport::sqlite3(c.record(),
                                QStringLiteral("select recordpassword from RECORD where remarks like '%%1%' order by rowid;")
                                    .arg(text))
        .split('\n', Qt::SkipEmptyParts);
}

// Every record of the camera, "remarks|user" a line, for failure messages.
std::string allRecords(const Camera& c)
{
    return c.id.toStdString() + "'s records:\n"
           + testsupport::sqlite3(c.record(), "select remarks || '|' || recordpassword from RECORD order by rowid;")
                 .toStdString();
}

// An operator action posted to the camera's HTTP API as user "u7"; its code.
int actAsU7(const Camera& c, const QString& route, const QJsonObject& body)
{
    const auto out = clientrun::runClient(
        "curl", {"-s", "-m", "10", "-H", "Content-Type: application/json", "-H", "User-ID: u7", "--data",
                 QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Compact)),
                 "http://" + c.address() + ":10414" + route},
        20000);
    return out ? QJsonDocument::fromJson(*out).object().value("code").toInt(-99) : -99;
}

TEST(OrvaleGroup, TemplateActionsAreRecordedInTheAskingUsersNameOnEveryCamera)
{
    // Both cameras see the defect: the mould cycle stops on NG, and the
    // operator takes the picture as a template on both, then resamples.
    OrvaleGroup group(1, {0, 1});
    GROUP_OR_SKIP(group);
    ASSERT_NO_FATAL_FAILURE(bringUp(group));
    Camera& main = group.main();
    Camera& sub = group.camera(1);
    openTheMould(group, "11100000", nullptr);
    ASSERT_TRUE(spinUntil([&] { return main.runState().value("state").toInt() == 3; }, 30000))
        << QJsonDocument(main.runState()).toJson().toStdString();
    const int step = orvalegroup::getJson("http://" + main.address() + ":10414/dide/context/runresult_info")
                         .value("result").toObject().value("detectinfo").toObject().value("cur_detect").toInt(-1);
    ASSERT_GE(step, 0);

    // The flow drops a passport that comes while a unit still works, so an
    // action is asked again, every 3 s, until both cameras have recorded it;
    // every record of it names u7.
    const auto askUntilRecorded = [&](const QString& route, const QJsonObject& body, const QString& text) {
        QElapsedTimer sinceAsked;
        EXPECT_TRUE(spinUntil(
            [&] {
                if (!recordUsers(main, text).isEmpty() && !recordUsers(sub, text).isEmpty())
                    return true;
                if (!sinceAsked.isValid() || sinceAsked.elapsed() > 3000) {
                    EXPECT_EQ(actAsU7(main, route, body), 0) << route.toStdString();
                    sinceAsked.start();
                }
                return false;
            },
            60000))
            << route.toStdString() << "\n" << allRecords(main) << "\n" << allRecords(sub) << "\n" << tail(main);
        for (Camera* c : {&main, &sub}) {
            const QStringList users = recordUsers(*c, text);
            EXPECT_FALSE(users.isEmpty()) << c->id.toStdString();
            for (const QString& user : users)
                EXPECT_EQ(user, "u7") << c->id.toStdString();
        }
    };
    askUntilRecorded("/dide/action/addtemplate",
                     QJsonObject{{"detect_index", step}, {"uuids", QJsonArray{main.id, sub.id}}},
                     QString::fromUtf8("添加了一张模板"));
    group.io->setInputs(0b10);  // the mould closes and the cycle ends
    askUntilRecorded("/dide/action/resample", QJsonObject{{"remove_template", true}},
                     QString::fromUtf8("删除了所有模板"));
}

}  // namespace

namespace {

// A stall of the host: the camera programs named stop (SIGSTOP, by PID) for
// `ms` and go on.
void stall(OrvaleGroup& group, const QList<int>& cameras, int ms)
{
    for (int i : cameras)
        ::kill(pid_t(group.camera(i).orvalePid()), SIGSTOP);
    spinUntil([] { return false; }, ms);
    for (int i : cameras)
        ::kill(pid_t(group.camera(i).orvalePid()), SIGCONT);
}

// The main camera's log written after `from` (a length of its log text).
QString logSince(const Camera& c, int from)
{
    return QString::fromUtf8(c.logText().mid(from));
}

struct StallCase {
    const char* name;
    QList<int> stopped;  // 0 the main camera, 1 and 2 the subs
};

class OrvaleGroupStall : public ::testing::TestWithParam<StallCase> {};

// The cameras stop for 2 s in the middle of a cycle: the main camera has
// taken the trigger and set the cycle's outputs, its work event is out.
// A camera that cannot answer its link's pings for a second is taken for
// lost and its link replaced, so the units of that event can be lost. Then
// the main camera must not let the mould close on that cycle; it holds the
// machine, says so in its run state and its log files, names the operator's
// release, ignores triggers with a line saying why until then, and runs the
// next cycle normally once released. Where nothing was lost, the next
// trigger simply runs a normal cycle.
TEST_P(OrvaleGroupStall, TheCycleAfterAStallIsHeldUntilReleasedOrRunsNormally)
{
    OrvaleGroup group(2);
    GROUP_OR_SKIP(group);
    ASSERT_NO_FATAL_FAILURE(bringUp(group));
    Camera& main = group.main();
    const QStringList okCycle{"11000000", "10000000", "00000000"};
    EXPECT_EQ(openTheMould(group, "00000000", nullptr), okCycle) << tail(main);
    group.io->setInputs(0b10);
    spinUntil([] { return false; }, 1000);

    const int logBefore = main.logText().size();
    group.io->clearReceived();
    group.io->setInputs(0b11);
    ASSERT_TRUE(spinUntil([&] { return !group.outputWords().isEmpty(); }, 10000)) << tail(main);
    stall(group, GetParam().stopped, 2000);

    // The stalled cycle ends one way or the other within the work event's
    // limit (10 s) and the link's repair.
    const QString syncError = QStringLiteral("(workevent sync error) -1: not found!!");
    spinUntil([&] { return logSince(main, logBefore).contains(syncError) || group.outputWords().contains("10000000"); },
              30000);
    spinUntil([] { return false; }, 3000);
    const QStringList stalledWords = group.outputWords();
    const bool lost = spinUntil([&] { return logSince(main, logBefore).contains(syncError); }, 5000);
    std::fprintf(stderr, "%s stalled: %s; the stalled cycle's outputs: %s\n", GetParam().name,
                 lost ? "a work event lost a unit" : "no work event lost a unit", qPrintable(stalledWords.join(' ')));
    group.io->setInputs(0b10);

    if (!lost && !stalledWords.contains("10000000")) {
        // A cycle cut short without a verdict: a link was down when its next
        // step came, and the log files say so.
        EXPECT_TRUE(logSince(main, logBefore).contains("dropped: IO module or camera link not connected"))
            << tail(main);
    }
    if (lost) {
        // No OK for a cycle whose units were not all collected.
        EXPECT_FALSE(stalledWords.contains("10000000")) << stalledWords.join(' ').toStdString();
        const QString log = logSince(main, logBefore);
        EXPECT_TRUE(log.contains("do handlingOfExceptionalEvent")) << tail(main);
        EXPECT_TRUE(log.contains("[HUB] data lost: every detection stops the machine until the operator releases it "
                                 "with /dide/action/forcerestore"))
            << tail(main);
        // The run state says the machine is held, and by what it is released.
        QJsonObject state = main.runState();
        EXPECT_EQ(state.value("state").toInt(), -2) << QJsonDocument(state).toJson().toStdString();
        EXPECT_EQ(state.value("state_describe").toString(), "检测异常-丢失数据");
        EXPECT_EQ(releaseActions(state), QStringList{"/dide/action/forcerestore"});
        // The links are up again meanwhile: the hold is not the link's.
        EXPECT_TRUE(spinUntil([&] { return livenessRecord(main).value("cams_cnted").toInt(-1) == 1; }, 45000))
            << QJsonDocument(main.daemonState()).toJson().toStdString();

        // The next trigger is refused, with the reason and the release in
        // the log files, and no output moves.
        spinUntil([] { return false; }, 1000);
        const int heldLog = main.logText().size();
        group.io->clearReceived();
        group.io->setInputs(0b11);
        EXPECT_TRUE(spinUntil(
            [&] {
                return logSince(main, heldLog).contains(
                    "not taken: the machine is held by the NG stop of unit 0 after a work event lost a camera's "
                    "result, until the operator's /dide/action/forcerestore");
            },
            30000))
            << tail(main);
        EXPECT_EQ(group.outputWords(), QStringList()) << group.outputWords().join(' ').toStdString();
        group.io->setInputs(0b10);
        spinUntil([] { return false; }, 500);

        // The operator's forced restore releases it: a no-check cycle of the
        // stopped unit lets this mould go.
        group.io->clearReceived();
        const auto answer =
            clientrun::runClient("curl", {"-s", "-m", "10", "-H", "Content-Type: application/json", "-d", "{}",
                                          "http://" + main.address() + ":10414/dide/action/forcerestore"});
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(QJsonDocument::fromJson(*answer).object().value("code").toInt(-1), 0) << answer->toStdString();
        EXPECT_TRUE(spinUntil([&] { return releaseActions(main.runState()).isEmpty(); }, 20000))
            << QJsonDocument(main.runState()).toJson().toStdString();
        state = main.runState();
        EXPECT_NE(state.value("state").toInt(), -2) << QJsonDocument(state).toJson().toStdString();
        EXPECT_FALSE(state.value("sys_stop").toBool()) << QJsonDocument(state).toJson().toStdString();
        EXPECT_TRUE(logSince(main, heldLog).contains("[HTTP] forced restore: data-lost flag cleared; no-check cycle "
                                                     "for the stopped unit 0"))
            << tail(main);
        ASSERT_TRUE(group.waitForLastWord("00000000", 20000)) << group.outputWords().join(' ').toStdString();
        spinUntil([] { return false; }, 1000);
    }

    // The cycle after: every camera looks and passes, the mould may close.
    const QList<int> okBefore = groupRows(main, "ok");
    const int afterLog = main.logText().size();
    EXPECT_EQ(openTheMould(group, "00000000", nullptr), okCycle) << tail(main);
    group.io->setInputs(0b10);
    EXPECT_TRUE(rowsGrow(main, "ok", okBefore, 2)) << tail(main);
    EXPECT_FALSE(logSince(main, afterLog).contains("not taken")) << tail(main);
    EXPECT_FALSE(logSince(main, afterLog).contains(syncError)) << tail(main);
    EXPECT_TRUE(releaseActions(main.runState()).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Stalls, OrvaleGroupStall,
                         ::testing::Values(StallCase{"AllThree", {0, 1, 2}}, StallCase{"TheMainAlone", {0}},
                                           StallCase{"OneSubAlone", {1}}),
                         [](const ::testing::TestParamInfo<StallCase>& info) { return std::string(info.param.name); });

}  // namespace
