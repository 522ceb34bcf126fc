// A PARAM.db that cannot be read, under the log settings the camera program
// starts with (only the "level_1" category reaches the files): what the
// camera says about it must be in the INFO log file, not only on a console.
#include "camerafixtures.h"
#include "foundation/logmanager.h"
#include "inspection/camera.h"
#include "inspection/cammerrecongnize.h"
#include "platform/system/dataroot.h"
#include "support/detectorfakes.h"

#include <QDirIterator>

#include <glog/logging.h>
#include <gtest/gtest.h>

using namespace camerafixtures;
using detectortest::rectRegion;

namespace {

QByteArray infoLogs(const QString& dir)
{
    google::FlushLogFiles(google::GLOG_INFO);
    QByteArray all;
    QDirIterator it(dir, {"LOG_*.log"}, QDir::Files);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            all += f.readAll();
    }
    return all;
}

TEST(ParamDbInTheLogFiles, ACorruptParamDbAndItsNgVerdictsAreInTheInfoLog)
{
    // As start-up sets the logs up, without the log-time file that widens
    // the categories.
    LogManager_Config config;
    config.glog_dir = QStringLiteral("/userdata/log/");
    config.stdlog_dir = QStringLiteral("/userdata/log_stdout/");
    config.log_to_stderr = false;
    LogManager::getInstance(config);
    LogManager::setLogInfoLevel({QStringLiteral("level_1")});
    const QString logDir = platform::DataRoot::path(QStringLiteral("/userdata/log"));

    detectortest::FrameSize frame(320, 240);
    detectortest::FakeHub hub;
    testsupport::ScratchDir scratch;
    testsupport::WorkingDir cwd(scratch.path());
    const int32_t savedSteps = gDNum;
    gDNum = 2;

    struct Case {
        const char* name;
        QByteArray file;
        const char* line;  // what the load says
    };
    const QJsonObject row{{"index", 0}, {"rois", QJsonObject{{"0", 1}}}};
    const Case cases[] = {
        {"garbage bytes", QByteArray(4096, '\x5a'), "Query execution error:"},
        {"rois not an array", QByteArray(), "holds \"rois\" that is not an array"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = scratch.file(QString::fromUtf8(c.name) + ".db");
        if (!c.file.isEmpty())
            scratch.write(QString::fromUtf8(c.name) + ".db", c.file);
        paramdb::ParamDb db(file);
        if (c.file.isEmpty()) {
            db.exec("CREATE TABLE cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT)");
            db.put("cameraparam", "camera0", QString::fromUtf8(QJsonDocument(row).toJson()));
        }
        const QByteArray before = infoLogs(logDir);
        {
            Camera camera;
            camera.cameraRecong()->Run(1);
            EXPECT_FALSE(camera.getResult());
            EXPECT_FALSE(camera.modifySingleton({rectRegion(1, 0, cv::Rect(10, 10, 40, 40), "ignore")}));
        }
        const QByteArray added = infoLogs(logDir).mid(before.size());
        EXPECT_TRUE(added.contains(c.line)) << added.toStdString();
        EXPECT_TRUE(added.contains("parameters not loaded: every detection is judged NG")) << added.toStdString();
        EXPECT_TRUE(added.contains("new region set refused: parameters not loaded")) << added.toStdString();
    }
    gDNum = savedSteps;
}

}  // namespace
