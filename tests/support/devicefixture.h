#pragma once
// The files of a camera that has been set up on a machine, for runs of the
// whole program: its working directory holds a parameter set with the
// moulded surface of bench/detectionrig.h as the template of detections 1
// and 2 (8 regions each, the same on both), a camera group naming it the
// main camera with its IO module (and sub cameras when asked), and optionally subscribers registered a
// moment ago; a picture folder holds the scene the simulated sensor shows,
// with or without a small dark defect in a flaw region.
//
// Detections 1 and 2 are the product and the mould unit of the standard
// layout with product detection on, no delays and no debounce: an input-0
// edge runs a whole cycle at once.
#include "bench/detectionrig.h"
#include "support/sqlite3tool.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QSettings>
#include <QString>
#include <QVariantMap>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace devicefixture {

struct Device {
    QString id;         // ORVALE_DEVICE_ID
    QString address;    // the camera's address
    QString ioAddress;  // the IO module's address
};

// The rest of a camera's group: its main camera (empty: the camera is the
// main one) and the sub cameras, each (device id, address).
struct Group {
    QString mainId;
    QString mainAddress;
    QList<QPair<QString, QString>> subs;
};

inline const char* const kIoModuleId = "IOM-SIM";

// Where the defect goes: inside the first flaw region of the rig.
inline cv::Point defectCentre() { return cv::Point(800, 450); }

// The process parameters of the fixture.
inline QJsonObject processParams()
{
    return QJsonObject{{"s_action_productdetect", true},
                       {"s_semi_automatic", false},
                       {"s_product_delaytime", 0},
                       {"s_moulding_delaytime", 0},
                       {"i_shakeerase_time", 0},
                       {"i_program_logic", 0},
                       {"h_temp_count", 3},
                       {"s_sport_correction", true},
                       {"h_mostskewing", detectionrig::kSearchMargin},
                       {"h_use_ngtemp", false},
                       {"h_ngres_count", 20},
                       {"h_okres_count", 0},
                       {"c_start_flawdetect", true}};
}

inline QString sqlText(const QByteArray& utf8)
{
    return QString::fromUtf8(utf8).replace(QLatin1Char('\''), QStringLiteral("''"));
}

// The regions of the rig on detections 1 and 2 (indexes 0 and 1).
inline QJsonArray regions()
{
    QJsonArray all;
    for (int step = 0; step < 2; ++step) {
        for (const QJsonValue& v : detectionrig::regionsJson()) {
            QJsonObject r = v.toObject();
            r.insert("detect_index", step);
            all.append(r);
        }
    }
    return all;
}

// The working directory `appDir` of a set-up camera. False when a file
// could not be written.
inline bool writeWorkingDir(const QString& appDir, const Device& device, const QString& factorySqlDir,
                            const Group& group = Group())
{
    if (!QDir().mkpath(appDir + "/paraGroup/default") || !QDir().mkpath(appDir + "/workspace"))
        return false;
    for (const auto& [file, sql] : {std::pair<QString, QString>{"paraGroup/default/PARAM.db", "PARAM.sql"},
                                    {"PARAM.db", "PARAM.sql"},
                                    {"RECORDNULL.db", "RECORDNULL.sql"}}) {
        QFile f(factorySqlDir + "/" + sql);
        if (!f.open(QIODevice::ReadOnly))
            return false;
        testsupport::sqlite3(appDir + "/" + file, QString::fromUtf8(f.readAll()));
    }
    const QByteArray params = QJsonDocument(processParams()).toJson(QJsonDocument::Compact);
    const QByteArray camera =
        QJsonDocument(QJsonObject{{"index", 0}, {"rois", regions()}}).toJson(QJsonDocument::Compact);
    testsupport::sqlite3(appDir + "/PARAM.db",
                         QStringLiteral("insert into sysparam values ('paramsjson', '%1');"
                                        "create table cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT);"
                                        "insert into cameraparam values ('camera0', '%2');")
                             .arg(sqlText(params), sqlText(camera)));
    if (testsupport::sqlite3(appDir + "/PARAM.db", "select count(*) from cameraparam;") != "1")
        return false;

    const cv::Mat surface = detectionrig::makeSurface();
    for (const char* dir : {"cammer11", "cammer12"}) {
        if (!QDir().mkpath(appDir + "/" + dir) ||
            !cv::imwrite((appDir + "/" + dir + "/template00.bmp").toStdString(), surface))
            return false;
    }

    QJsonArray subs;
    for (const auto& [subId, subAddress] : group.subs)
        subs.append(QJsonObject{{"ps_sub_camera_uuid", subId}, {"ps_sub_camera_address", subAddress}});
    const QJsonObject cfgJson{{"ps_machineid", "E2E-MACHINE"},
                            {"ps_io_uuid", kIoModuleId},
                            {"ps_io_address", device.ioAddress},
                            {"ps_version", "1.0"},
                            {"ps_main_camera_uuid", group.mainId.isEmpty() ? device.id : group.mainId},
                            {"ps_main_camera_address", group.mainId.isEmpty() ? device.address : group.mainAddress},
                            {"ps_sub_camera", subs}};
    QFile cfg(appDir + "/camcfg.json");
    return cfg.open(QIODevice::WriteOnly) && cfg.write(QJsonDocument(cfgJson).toJson()) > 0;
}

// Subscribers of every topic at `ip`, one per port, registered at
// `registeredMs` (epoch ms), in the work stash's settings file.
inline void seedSubscribers(const QString& appDir, const QString& ip, const QList<quint16>& ports, qint64 registeredMs)
{
    QSettings ini(appDir + "/workspace/Vistrel.ini", QSettings::IniFormat);
    for (quint16 port : ports) {
        ini.setValue(QStringLiteral("VCamera_Work/Subscriber_%1_%2").arg(ip).arg(port),
                     QVariantMap{{"ip", ip},
                                 {"port", int(port)},
                                 {"topics", QStringList{"result_reports", "result_all_picture", "result_ng_picture"}},
                                 {"lasttime", registeredMs}});
    }
    ini.sync();
}

// A folder with the scene the sensor shows: the template's surface, with a
// small dark defect in a flaw region when `defect`.
inline bool writeScene(const QString& folder, bool defect)
{
    cv::Mat shown = detectionrig::makeSurface();
    if (defect)
        cv::circle(shown, defectCentre(), 8, cv::Scalar(10), cv::FILLED);
    return QDir().mkpath(folder) && cv::imwrite((folder + "/scene.png").toStdString(), shown);
}

}  // namespace devicefixture
