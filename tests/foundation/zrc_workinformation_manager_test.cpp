#include "foundation/zrc_workinformation_manager.h"

#include "foundation/qstring_tl.h"
#include "support/scratchdir.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>

namespace {

const QString kSelf = QStringLiteral("CAMSELF");

class RecordingWriter : public OperationRecord_Interface {
public:
    void InsertRecord(const QString& text, const QString& type) override { records.append({text, type}); }
    QList<QPair<QString, QString>> records;
};

// Each test runs in a scratch working directory with its own camcfg.json, a
// network card from a fixture and the work information re-initialised there.
class WorkInformation : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Read once, when the singleton is first made.
        qputenv("ORVALE_DEVICE_ID", kSelf.toLatin1());
        mgr = ZRC_WorkInformation_Manager::getInstance();
        ASSERT_EQ(mgr->get_deviceid(), kSelf);
        cwd = std::make_unique<testsupport::WorkingDir>(dir.path());
        useCard(QString());
        mgr->setRecordWriter(nullptr);
        connection = QObject::connect(mgr, &ZRC_WorkInformation_Manager::sig_device_info_change, mgr,
                                      [this] {
                                          ++changes;
                                          signalThread = QThread::currentThread();
                                      },
                                      Qt::DirectConnection);
    }

    void TearDown() override
    {
        QObject::disconnect(connection);
        mgr->setRecordWriter(nullptr);
        useCard(QString());
        cwd.reset();
    }

    // The network card the next recheck finds; an empty address means none.
    void useCard(const QString& ip)
    {
        mgr->setNetCardProbe([ip](DeviceNetInfo_Detail& card) {
            if (ip.isEmpty())
                return false;
            card.ifname = QStringLiteral("eth0");
            card.ip = ip;
            card.netmask = QStringLiteral("255.255.255.0");
            card.broadcast = QStringLiteral("192.168.1.255");
            card.mac = QStringLiteral("00:1A:2B:3C:4D:5E");
            return true;
        });
    }

    void writeCamCfg(const QByteArray& bytes) { dir.write(QStringLiteral("camcfg.json"), bytes); }
    QByteArray camCfg() const { return dir.read(QStringLiteral("camcfg.json")); }
    bool camCfgExists() const { return QFile::exists(dir.file(QStringLiteral("camcfg.json"))); }

    static ZRC_DeviceInfos group(const QString& mainId, const QString& mainIp)
    {
        ZRC_DeviceInfos g;
        g.machine_id = QStringLiteral("M1");
        g.io_uuid = QStringLiteral("io7");
        g.io_address = QStringLiteral("192.168.1.50");
        g.cameras = {DeviceNetInfo(mainId, mainIp, 1),
                     DeviceNetInfo(QStringLiteral("C2"), QStringLiteral("192.168.1.11"), 0),
                     DeviceNetInfo(QStringLiteral("C3"), QStringLiteral("192.168.1.12"), 0)};
        return g;
    }

    testsupport::ScratchDir dir;
    std::unique_ptr<testsupport::WorkingDir> cwd;
    ZRC_WorkInformation_Manager* mgr = nullptr;
    QMetaObject::Connection connection;
    int changes = 0;
    QThread* signalThread = nullptr;
};

TEST_F(WorkInformation, FirstStartWritesAnEmptyGroupFile)
{
    mgr->init();
    EXPECT_EQ(camCfg(), QByteArray("{\n"
                                   "    \"ps_io_address\": \"\",\n"
                                   "    \"ps_io_uuid\": \"\",\n"
                                   "    \"ps_machineid\": \"\",\n"
                                   "    \"ps_main_camera_address\": \"\",\n"
                                   "    \"ps_main_camera_uuid\": \"\",\n"
                                   "    \"ps_sub_camera\": [\n"
                                   "    ],\n"
                                   "    \"ps_version\": \"V1.0.5.29\"\n"
                                   "}\n"));
    EXPECT_EQ(mgr->getAllCameras(), QList<DeviceNetInfo>{DeviceNetInfo(QString(), QString(), 1)});
    EXPECT_EQ(mgr->get_working_info().group_text, "();();();()");
    EXPECT_FALSE(mgr->IsMainCamera());
}

TEST_F(WorkInformation, WritesTheGroupFileByteForByte)
{
    mgr->init();
    mgr->set_device_info(group(QStringLiteral("C1"), QStringLiteral("192.168.1.10")));
    EXPECT_EQ(camCfg(), QByteArray("{\n"
                                   "    \"ps_io_address\": \"192.168.1.50\",\n"
                                   "    \"ps_io_uuid\": \"io7\",\n"
                                   "    \"ps_machineid\": \"M1\",\n"
                                   "    \"ps_main_camera_address\": \"192.168.1.10\",\n"
                                   "    \"ps_main_camera_uuid\": \"C1\",\n"
                                   "    \"ps_sub_camera\": [\n"
                                   "        {\n"
                                   "            \"ps_sub_camera_address\": \"192.168.1.11\",\n"
                                   "            \"ps_sub_camera_uuid\": \"C2\"\n"
                                   "        },\n"
                                   "        {\n"
                                   "            \"ps_sub_camera_address\": \"192.168.1.12\",\n"
                                   "            \"ps_sub_camera_uuid\": \"C3\"\n"
                                   "        }\n"
                                   "    ],\n"
                                   "    \"ps_version\": \"V1.0.5.29\"\n"
                                   "}\n"));
    EXPECT_EQ(mgr->get_working_info().group_text,
              "(M1);(io7;192.168.1.50);(C1;192.168.1.10);(C2;192.168.1.11;C3;192.168.1.12)");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(signalThread, QThread::currentThread());
}

TEST_F(WorkInformation, LoadsTheGroupOnceForEachDeviceAndRegistersSubsOnTheMainCamera)
{
    writeCamCfg(R"({"ps_machineid":"M1","ps_io_uuid":"io7","ps_io_address":"192.168.1.50",
        "ps_main_camera_uuid":"CAMSELF","ps_main_camera_address":"192.168.1.10",
        "ps_sub_camera":[{"ps_sub_camera_uuid":"C2","ps_sub_camera_address":"192.168.1.11"},
                         {"ps_sub_camera_uuid":"CAMSELF","ps_sub_camera_address":"192.168.1.99"},
                         {"ps_sub_camera_uuid":"C2","ps_sub_camera_address":"192.168.1.98"},
                         {"ps_sub_camera_uuid":"C3","ps_sub_camera_address":"192.168.1.12"}]})");
    mgr->init();

    EXPECT_TRUE(mgr->IsMainCamera());
    EXPECT_EQ(mgr->getAllCameras(), (QList<DeviceNetInfo>{DeviceNetInfo(kSelf, "192.168.1.10", 1),
                                                          DeviceNetInfo("C2", "192.168.1.11", 0),
                                                          DeviceNetInfo("C3", "192.168.1.12", 0)}));
    const ZRC_WorkInfos work = mgr->get_working_info();
    ASSERT_EQ(work.sub_devices.size(), 2u);
    EXPECT_EQ(work.sub_devices.at("C2"), DeviceNetInfo("C2", "192.168.1.11", 0));
    EXPECT_EQ(work.sub_devices.at("C3"), DeviceNetInfo("C3", "192.168.1.12", 0));
    EXPECT_EQ(work.group_text, "(M1);(io7;192.168.1.50);(CAMSELF;192.168.1.10);(C2;192.168.1.11;C3;192.168.1.12)");
    EXPECT_EQ(camCfg(), ZRC_WorkInformation_Manager::camCfgJson(mgr->get_device_info()));

    const CamDevices_Interface devices = mgr->get2CamDevices_Interface();
    EXPECT_EQ(devices.getAllCamsIDs(), (QStringList{kSelf, "C2", "C3"}));
    EXPECT_EQ(devices.cameraBaseInfos().at(0), CameraBaseInfo(kSelf, 1));
    EXPECT_EQ(devices.cameraBaseInfos().at(2), CameraBaseInfo("C3", 0));
}

TEST_F(WorkInformation, DamagedGroupFileIsKeptAsideNotOverwritten)
{
    const QByteArray damaged[] = {QByteArray("{\"ps_machineid\": \"M1\""), QByteArray("[1, 2]"), QByteArray()};
    for (const QByteArray& bytes : damaged) {
        for (const QString& f : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.file(f));
        writeCamCfg(bytes);
        mgr->init();
        const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("camcfg.json.broken-*")}, QDir::Files);
        ASSERT_EQ(aside.size(), 1) << bytes.constData();
        EXPECT_EQ(dir.read(aside.first()), bytes);
        EXPECT_EQ(camCfg(), ZRC_WorkInformation_Manager::camCfgJson(mgr->get_device_info()));
        EXPECT_EQ(mgr->get_device_info().machine_id, QString());
        EXPECT_EQ(mgr->get_working_info().group_text, "();();();()");
    }
}

TEST_F(WorkInformation, MainCameraNeedsANonEmptyMatchingId)
{
    mgr->init();
    struct Case {
        QString mainId;
        bool main;
    };
    for (const Case& c : {Case{QString(), false}, Case{QStringLiteral("C1"), false}, Case{kSelf, true}}) {
        mgr->set_device_info(group(c.mainId, QStringLiteral("192.168.1.10")));
        EXPECT_EQ(mgr->IsMainCamera(), c.main) << c.mainId.toStdString();
    }
}

TEST_F(WorkInformation, BindingAnUnknownIdStoresNothing)
{
    mgr->init();
    mgr->set_device_info(group(QStringLiteral("C1"), QStringLiteral("192.168.1.10")));
    changes = 0;
    QFile::remove(dir.file(QStringLiteral("camcfg.json")));

    EXPECT_FALSE(mgr->update_device_info_id_bound_ip(QStringLiteral("NOPE"), QStringLiteral("10.0.0.1")));
    EXPECT_FALSE(camCfgExists());
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(mgr->getMainCamera().getValue().address, QStringLiteral("192.168.1.10"));

    EXPECT_TRUE(mgr->update_device_info_id_bound_ip(QStringLiteral("C3"), QStringLiteral("10.0.0.3")));
    EXPECT_TRUE(camCfgExists());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(mgr->getSubCameras().at(1).address, QStringLiteral("10.0.0.3"));
}

TEST_F(WorkInformation, RecheckWithUnchangedAddressRebindsButRecordsNothing)
{
    mgr->init();
    RecordingWriter writer;
    mgr->setRecordWriter(&writer);
    mgr->set_device_info(group(kSelf, QStringLiteral("192.168.1.10")));
    changes = 0;
    QFile::remove(dir.file(QStringLiteral("camcfg.json")));
    useCard(QStringLiteral("192.168.1.10"));

    EXPECT_TRUE(mgr->recheckDeviceInfo());
    EXPECT_TRUE(camCfgExists());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(mgr->get_working_info().warn_tip, ZRC_WarnTip_NetFluctuation_IOAllBroken);
    EXPECT_TRUE(writer.records.isEmpty());
    ASSERT_TRUE(mgr->get_netcard().hasValue());
    EXPECT_EQ(mgr->get_netcard().getValue().ip, QStringLiteral("192.168.1.10"));
}

TEST_F(WorkInformation, RecheckRecordsARealAddressChangeOnce)
{
    writeCamCfg(R"({"ps_main_camera_uuid":"CAMSELF","ps_main_camera_address":"192.168.1.10"})");
    useCard(QStringLiteral("192.168.1.20"));
    mgr->init();  // the hub does not exist yet: bound, but nothing recorded
    EXPECT_EQ(mgr->getMainCamera().getValue().address, QStringLiteral("192.168.1.20"));

    RecordingWriter writer;
    mgr->setRecordWriter(&writer);
    useCard(QStringLiteral("192.168.1.30"));
    EXPECT_TRUE(mgr->recheckDeviceInfo());
    EXPECT_TRUE(mgr->recheckDeviceInfo());
    ASSERT_EQ(writer.records.size(), 1);
    EXPECT_EQ(writer.records.first().first, QString::fromUtf8("IP发生变化: 192.168.1.20 -> 192.168.1.30"));
    EXPECT_EQ(writer.records.first().second, QStringLiteral("system"));
    EXPECT_TRUE(camCfg().contains("\"ps_main_camera_address\": \"192.168.1.30\""));
}

TEST_F(WorkInformation, RecheckOutsideTheGroupOrWithoutCardBindsNothing)
{
    mgr->init();
    mgr->set_device_info(group(QStringLiteral("C1"), QStringLiteral("192.168.1.10")));
    const ZRC_DeviceInfos before = mgr->get_device_info();
    changes = 0;

    useCard(QStringLiteral("192.168.1.20"));
    EXPECT_FALSE(mgr->recheckDeviceInfo());  // own id not in the group
    EXPECT_TRUE(mgr->get_netcard().hasValue());
    useCard(QString());
    EXPECT_FALSE(mgr->recheckDeviceInfo());  // no card
    EXPECT_FALSE(mgr->get_netcard().hasValue());

    EXPECT_EQ(mgr->get_device_info(), before);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(mgr->get_working_info().warn_tip, ZRC_WarnTip_None);
}

TEST_F(WorkInformation, InitAgainStartsFromTheNewDirectory)
{
    writeCamCfg(R"({"ps_machineid":"M1","ps_main_camera_uuid":"CAMSELF","ps_main_camera_address":"1.1.1.1",
        "ps_sub_camera":[{"ps_sub_camera_uuid":"C2","ps_sub_camera_address":"1.1.1.2"}]})");
    useCard(QStringLiteral("1.1.1.1"));
    mgr->init();
    mgr->update_working_info([](ZRC_WorkInfos& w) {
        w.started = false;
        w.input_bits = 5;
    });
    ASSERT_EQ(mgr->get_working_info().sub_devices.size(), 1u);

    testsupport::ScratchDir other;
    testsupport::WorkingDir there(other.path());
    mgr->init();
    const ZRC_WorkInfos work = mgr->get_working_info();
    EXPECT_TRUE(work.sub_devices.empty());
    EXPECT_TRUE(work.started);
    EXPECT_EQ(work.input_bits, 0);
    EXPECT_EQ(work.warn_tip, ZRC_WarnTip_None);
    EXPECT_EQ(mgr->get_device_info().machine_id, QString());
    EXPECT_TRUE(QFile::exists(other.file(QStringLiteral("camcfg.json"))));
}

TEST_F(WorkInformation, WarningTipTextFollowsTheLanguage)
{
    g_Language = QStringLiteral("en-US");
    EXPECT_TRUE(ZRC_WorkInformation_Manager::parseWarnTip(1).startsWith(QStringLiteral("There's a network fluctuation")));
    g_Language = QStringLiteral("zh-CN");
    EXPECT_EQ(ZRC_WorkInformation_Manager::parseWarnTip(1),
              QString::fromUtf8("出现网络波动，IO已经全部断开，确认生产状态后，点击恢复。"));
    EXPECT_TRUE(ZRC_WorkInformation_Manager::parseWarnTip(0).isEmpty());
    EXPECT_TRUE(ZRC_WorkInformation_Manager::parseWarnTip(2).isEmpty());
}

// A group change from machine IO's thread while the main thread reads: the
// signal is emitted on the changing thread, and the work block's group text
// always belongs to a group that was stored.
TEST_F(WorkInformation, GroupChangesFromAnotherThreadStayConsistent)
{
    mgr->init();
    const ZRC_DeviceInfos a = group(QStringLiteral("C1"), QStringLiteral("192.168.1.10"));
    const ZRC_DeviceInfos b = group(kSelf, QStringLiteral("192.168.1.20"));
    const std::string textA = MakeCamCfg2Str(a).toStdString();
    const std::string textB = MakeCamCfg2Str(b).toStdString();
    std::atomic<bool> done{false};
    QThread* io = QThread::create([&] {
        for (int i = 0; i < 200; ++i)
            mgr->set_device_info(i % 2 ? b : a);
        done = true;
    });
    io->start();
    int inconsistent = 0;
    while (!done) {
        const std::string text = mgr->get_working_info().group_text;
        const ZRC_DeviceInfos g = mgr->get_device_info();
        if (text != textA && text != textB && text != "();();();()")
            ++inconsistent;
        if (!(g == a) && !(g == b) && g.machine_id != QString())
            ++inconsistent;
    }
    io->wait();
    EXPECT_EQ(signalThread, io);
    delete io;
    EXPECT_EQ(inconsistent, 0);
    EXPECT_EQ(changes, 200);
    EXPECT_EQ(mgr->get_working_info().group_text, textB);
    EXPECT_TRUE(mgr->IsMainCamera());
}

}  // namespace
