// The HTTP-over-UDP heartbeat client's answers, handed straight to its
// answer slot (the client is carried, never started: no socket here): the
// taken application releases the camera and names the operator
// application's language; nobody else can do either.
#include "foundation/qstring_tl.h"
#include "net/udp_push2app.h"
#include "publishbench.h"

#include <QJsonObject>
#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

namespace {

const QString kTaken = QStringLiteral("127.0.0.2");
const QString kOther = QStringLiteral("127.0.0.3");

struct Answer {
    QString from;
    bool dotaken;
    QString language;  // empty: no "language" key
};

CTask_FormData answerForm(const Answer& a)
{
    QJsonObject result{{"dotaken", a.dotaken}, {"app_version", "V1.6.8.1"}};
    if (!a.language.isEmpty())
        result.insert("language", a.language);
    CTask_FormData form;
    form.peer_address = a.from;
    form.json = QJsonObject{{"code", 0}, {"msg", "OK"}, {"result", result}};
    return form;
}

// The languages that reached the sink.
struct SinkRecorder {
    QStringList languages;
    SinkRecorder()
    {
        Udp_Push2APP::setLanguageSink([this](const QString& l) { languages << l; });
    }
    ~SinkRecorder() { Udp_Push2APP::setLanguageSink({}); }
};

}  // namespace

TEST(UdpPush2App, TheTakenApplicationReleasesTheCameraAndNamesTheLanguage)
{
    struct Row {
        const char* name;
        QString takenBefore;
        QList<Answer> answers;
        QString takenAfter;
        QStringList sinkCalls;
        QString language;  // g_Language afterwards ("zh-CN" before each row)
    };
    const Row rows[] = {
        {"the taken application releases the camera", kTaken, {{kTaken, false, ""}}, "", {}, "zh-CN"},
        {"a release still names the language", kTaken, {{kTaken, false, "en-US"}}, "", {"en-US"}, "en-US"},
        {"the taken application keeps it and names its language",
         kTaken, {{kTaken, true, "en-US"}}, kTaken, {"en-US"}, "en-US"},
        {"a language goes on only when it changes",
         kTaken,
         {{kTaken, true, "en-US"}, {kTaken, true, "en-US"}, {kTaken, true, "zh-CN"}},
         kTaken,
         {"en-US", "zh-CN"},
         "zh-CN"},
        {"an empty language changes nothing", kTaken, {{kTaken, true, ""}}, kTaken, {}, "zh-CN"},
        {"another application neither releases nor names the language",
         kTaken, {{kOther, false, "en-US"}, {kOther, true, "en-US"}}, kTaken, {}, "zh-CN"},
        {"a free camera is taken; its language counts from the next answer",
         "", {{kOther, true, "en-US"}, {kOther, true, "en-US"}}, kOther, {"en-US"}, "en-US"},
        {"a released camera is free for the next one asking",
         kTaken, {{kTaken, false, ""}, {kOther, true, ""}}, kOther, {}, "zh-CN"},
    };
    nettest::CameraWork camera;
    Udp_Push2APP client(-1);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SinkRecorder sink;
        g_Language = QStringLiteral("zh-CN");
        camera.mgr->update_working_info([&](ZRC_WorkInfos& w) {
            w.taken_app_ip = row.takenBefore.toStdString();
            w.registered_apps.clear();
        });
        for (const Answer& a : row.answers)
            client.slot_udp_recv_rsp(answerForm(a));
        const ZRC_WorkInfos w = camera.work();
        EXPECT_EQ(QString::fromStdString(w.taken_app_ip), row.takenAfter);
        EXPECT_EQ(sink.languages, row.sinkCalls);
        EXPECT_EQ(g_Language.get(), row.language);
        for (const Answer& a : row.answers) {
            ASSERT_EQ(w.registered_apps.count(a.from.toStdString()), 1u) << "every answer registers";
            EXPECT_EQ(w.registered_apps.at(a.from.toStdString()).version, "V1.6.8.1");
        }
    }
    g_Language = QStringLiteral("zh-CN");
}

TEST(UdpPush2App, AnAnswerWithoutResultOrSenderChangesNothing)
{
    nettest::CameraWork camera;
    SinkRecorder sink;
    g_Language = QStringLiteral("zh-CN");
    Udp_Push2APP client(-1);
    camera.mgr->update_working_info([](ZRC_WorkInfos& w) { w.taken_app_ip.clear(); });

    CTask_FormData noResult = answerForm({kTaken, false, "en-US"});
    noResult.json.insert("result", QJsonValue(QStringLiteral("not an object")));
    client.slot_udp_recv_rsp(noResult);
    // No sender: never "the taken application", even while none is taken.
    client.slot_udp_recv_rsp(answerForm({QString(), false, "en-US"}));

    EXPECT_TRUE(camera.work().taken_app_ip.empty());
    EXPECT_EQ(camera.work().registered_apps.count(kTaken.toStdString()), 0u);
    EXPECT_TRUE(sink.languages.isEmpty());
    EXPECT_EQ(g_Language.get(), QStringLiteral("zh-CN"));
}

TEST(UdpPush2App, ANewSinkGetsTheNextLanguageEvenWhenUnchanged)
{
    nettest::CameraWork camera;
    Udp_Push2APP client(-1);
    camera.mgr->update_working_info([](ZRC_WorkInfos& w) { w.taken_app_ip = kTaken.toStdString(); });
    {
        SinkRecorder first;
        client.slot_udp_recv_rsp(answerForm({kTaken, true, "en-US"}));
        EXPECT_EQ(first.languages, QStringList{"en-US"});
    }
    SinkRecorder second;
    // The answer arrives on the reactor's thread in the program.
    std::unique_ptr<QThread> socketThread(
        QThread::create([&] { client.slot_udp_recv_rsp(answerForm({kTaken, true, "en-US"})); }));
    socketThread->start();
    socketThread->wait();
    EXPECT_EQ(second.languages, QStringList{"en-US"});
    g_Language = QStringLiteral("zh-CN");
}
