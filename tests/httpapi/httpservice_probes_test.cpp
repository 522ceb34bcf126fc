// Every input of the state, record, export, firmware and device routes that
// names a file, a folder, a kind or a record filter, against hostile names:
// steps out of the folder at every depth, absolute paths, encoded and
// doubled dots, backslashes, NUL, a link inside the folder that leads out,
// SQL in every quoting, very long text. Canary files lie just outside the
// folders; no answer may carry a canary's bytes, nor any database driver's
// error text, and RECORD.db keeps its rows.
#include "hub/divuvarude.h"
#include "inspection/cameraimage.h"
#include "platform/system/dataroot.h"
#include "support/programfixture.h"

#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

#include <cstdio>

using testsupport::HttpAnswer;
using testsupport::ProgramFixture;

namespace {

const QByteArray kCanary = "CANARY-7f3a9e-outside-every-folder";

QStringList hostileNames(const QString& canaryName, const QStringList& absolute)
{
    QStringList out;
    QString up;
    for (int depth = 1; depth <= 7; ++depth) {
        up += QStringLiteral("../");
        out << up + canaryName << up.chopped(1).replace('/', '\\') + '\\' + canaryName
            << QString(up).replace("..", "%2e%2e") + canaryName << QString(up).replace("../", "..//") + canaryName
            << QString(up).replace("../", "....//") + canaryName << QStringLiteral("./") + up + canaryName;
    }
    out << absolute << "link.bmp" << "." << ".." << "" << "/" << "a.bmp" + QString(QChar(0)) + "../" + canaryName
        << QString(QChar(0)) << "~/" + canaryName << "a/../../" + canaryName << QString(5000, 'a') + ".bmp"
        << "' OR '1'='1" << "x'; DROP TABLE RECORD; --" << "\" OR \"\"=\"" << "%' --" << "1) UNION SELECT 1,2,3--"
        << "$(touch pwned)" << "`touch pwned`" << "; touch pwned" << "| touch pwned";
    return out;
}

// Text a database driver or a shell would add to an answer.
bool driverText(const QByteArray& body)
{
    const QByteArray lower = body.toLower();
    for (const char* t : {"sqlite", "sql error", "syntax error", "no such table", "no such column", "unrecognized token",
                          "qsql", "driver", "sh: ", "not found"}) {
        if (lower.contains(t))
            return true;
    }
    return false;
}

}  // namespace

TEST(HttpServiceProbesTest, NoNameTakingInputLeavesItsFolderOrShowsDatabaseText)
{
    ProgramFixture f;
    // Canaries next to the template folders (the working directory), at the
    // top of the data root and beside the alarm folders; a link inside the
    // first template folder that leads to one.
    const QString templateDir = QFileInfo(CameraImage::templatePath(0, "template00.bmp")).absolutePath();
    const QString alarmDir = f.hub->alarmDirectory(0, false).absolutePath();
    const QString canaryName = "canary.bmp";
    QStringList canaries;
    for (const QString& dir : {QDir::currentPath(), platform::DataRoot::root(), QFileInfo(alarmDir).path(),
                               QFileInfo(templateDir).path()}) {
        QFile c(QDir(dir).filePath(canaryName));
        ASSERT_TRUE(c.open(QIODevice::WriteOnly));
        c.write(kCanary);
        canaries << QFileInfo(c).absoluteFilePath();
    }
    ASSERT_TRUE(QFile::link(canaries.first(), templateDir + "/link.bmp"));
    ASSERT_TRUE(QFile::link(canaries.first(), alarmDir + "/link.bmp"));
    for (int i = 0; i < 3; ++i)
        f.hub->InsertRecord(QStringLiteral("probe row %1").arg(i), QStringLiteral("operate"));
    f.settle();
    const QStringList before = f.records();
    ASSERT_FALSE(before.isEmpty());
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");

    const QStringList names = hostileNames(canaryName, canaries);
    struct Probe {
        QString route;
        QJsonObject body;
    };
    QList<Probe> probes;
    for (const QString& n : names) {
        for (const char* type : {"template", "result_ng", "result_ok"}) {
            for (int detect : {0, 1})
                probes << Probe{"/dide/context/getpicture",
                                QJsonObject{{"pic_type", type}, {"pic_detect", detect}, {"pic_name", n}}};
        }
        probes << Probe{"/dide/context/getpicture", QJsonObject{{"pic_type", n}, {"pic_detect", 0}, {"pic_name", "a.bmp"}}}
               << Probe{"/dide/context/getsyspic_item", QJsonObject{{"file_type", n}, {"detect", 0}}}
               << Probe{"/dide/context/record", QJsonObject{{"date", n}, {"start", 0}, {"finish", 20}, {"type", ""}}}
               << Probe{"/dide/context/record",
                        QJsonObject{{"date", today + n}, {"start", 0}, {"finish", 20}, {"type", "operate"}}}
               << Probe{"/dide/context/record", QJsonObject{{"date", today}, {"start", 0}, {"finish", 20}, {"type", n}}}
               << Probe{"/dide/context/getproject_storage", QJsonObject{{"storage_type", QJsonArray{n}}}}
               << Probe{"/dide/context/lan_all_devices", QJsonObject{{"app_version", n}, {"subip", n}}};
    }
    f.service->setExportPushPort(1);  // nothing listens: an export, if one started, goes nowhere

    // The sweep sees a canary where one is served: the same bytes inside the
    // folder come back whole.
    {
        QFile inside(templateDir + "/inside.bmp");
        ASSERT_TRUE(inside.open(QIODevice::WriteOnly));
        inside.write(kCanary);
    }
    ASSERT_EQ(f.request("/dide/context/getpicture",
                        QJsonObject{{"pic_type", "template"}, {"pic_detect", 0}, {"pic_name", "inside.bmp"}})
                  .raw.body,
              kCanary);
    QFile::remove(templateDir + "/inside.bmp");

    int escapes = 0;
    int driverTexts = 0;
    int answered = 0;
    for (const Probe& p : probes) {
        const HttpAnswer a = f.request(p.route, p.body);
        const std::string what = p.route.toStdString() + " " + QJsonDocument(p.body).toJson(QJsonDocument::Compact)
                                                                  .left(300).toStdString();
        answered += a.raw.statusLine.isEmpty() ? 0 : 1;
        if (a.raw.body.contains(kCanary)) {
            ++escapes;
            ADD_FAILURE() << "a canary's bytes in the answer to " << what;
        }
        if (driverText(a.raw.body)) {
            ++driverTexts;
            ADD_FAILURE() << "driver text in the answer to " << what << ": " << a.raw.body.left(300).toStdString();
        }
    }
    // The firmware digest: every hostile text as "check" refuses the upload.
    int digestProbes = 0;
    for (const QString& n : names) {
        if (n.isEmpty())
            continue;  // no digest at all: accepted with its warning (the routes test)
        ++digestProbes;
        const HttpAnswer a = f.request("/dide/context/update_system?check=" + QString::fromLatin1(QUrl::toPercentEncoding(n)),
                                       QByteArray("package"), {}, "application/octet-stream");
        ++answered;
        EXPECT_EQ(a.raw.statusLine.mid(9, 3), "400") << n.left(100).toStdString();
        if (driverText(a.raw.body))
            ++driverTexts;
    }
    std::printf("%d probes over %d hostile names: %d escapes, %d driver texts\n", int(probes.size()) + digestProbes,
                int(names.size()), escapes, driverTexts);
    EXPECT_EQ(answered, int(probes.size()) + digestProbes) << "every probe is answered";
    EXPECT_FALSE(QFile::exists(platform::DataRoot::path("/root/newupdate.tar")));
    EXPECT_FALSE(QFile::exists("pwned"));
    EXPECT_FALSE(QFile::exists(platform::DataRoot::path("/pwned")));
    const QStringList after = f.records();
    EXPECT_GE(after.size(), before.size()) << "RECORD.db keeps its rows";
    EXPECT_EQ(after.mid(0, before.size()), before);
}
