#include "flow/userflowfile.h"

#include "flow/flowbox_group.h"
#include "flow/flowframeworkbuilder.h"
#include "flow/flowpart_base.h"
#include "flow/flowunit_standard_detect.h"
#include "foundation/logmanager.h"
#include "foundation/qstring_tl.h"

#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>

QString UserFlowFile::path()
{
    return QStringLiteral("./workspace/userflow.json");
}

QJsonObject UserFlowFile::read()
{
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    const QByteArray data = file.readAll();
    file.close();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        return QJsonObject();
    return doc.object();  // an array at top level reads as empty
}

bool UserFlowFile::write(const QJsonObject& flow)
{
    const QString name = path();
    QDir().mkpath(QFileInfo(name).path());
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(level_1) << "<UserFlowFile::write>: cannot open" << name << file.errorString();
        return false;
    }
    file.write(QJsonDocument(flow).toJson(QJsonDocument::Indented));
    if (!file.commit()) {
        qCWarning(level_1) << "<UserFlowFile::write>: cannot write" << name << file.errorString();
        return false;
    }
    return true;
}

QJsonObject UserFlowFile::create_UserFrame_UserFlow(FlowFrameworkBuilder& builder, bool build)
{
    QList<FlowBox_Group*> preview;
    if (build)
        builder.clear_Frameworks();
    QList<FlowBox_Group*>& list = build ? builder.liveGroups() : preview;

    const QJsonObject flow = read();

    FlowBox_Group* group = builder.newGroup(builder.manager());
    if (!group) {
        qCWarning(level_1) << "<create_UserFrame_UserFlow>: no group could be made";
        return QJsonObject();
    }
    list.append(group);

    const QJsonArray units = flow.value(QStringLiteral("units")).toArray();
    QStringList built;    // "<index>" of each unit built from the file
    QStringList ignored;  // "unit <index>: key, key" of what it does not read back
    for (int i = 0; i < units.size(); ++i) {
        const QJsonObject unitObj = units.at(i).toObject();
        const QString type = unitObj.value(QStringLiteral("type")).toString();
        const QString name = unitObj.value(QStringLiteral("name")).toString();
        const int index = unitObj.value(QStringLiteral("index")).toInt();
        if (index != i || type != QLatin1String("FlowUnit_Standard_Detect"))
            continue;

        built << QString::number(i);
        const QStringList notRead = FlowUnit_Standard_Detect::ignoredJsonKeys(unitObj);
        if (!notRead.isEmpty())
            ignored << QStringLiteral("unit %1: %2").arg(i).arg(notRead.join(QStringLiteral(", ")));
        auto* unit = new FlowUnit_Standard_Detect(group);
        group->append_FlowUnit(unit);
        // The operator wrote one name: it reads the same in either language.
        unit->set_user_describe(QString_TL(name, name));

        for (const QJsonValue& v : unitObj.value(QStringLiteral("part_cond")).toArray()) {
            const QJsonObject partObj = v.toObject();
            const QString partType = partObj.value(QStringLiteral("type")).toString();
            // An after-detect or detect part is no start condition: a unit
            // that asked it whether to start would misbehave.
            if (partType == QLatin1String("FlowPart_AftDect_NGStop") || partType == QLatin1String("FlowPart_Detect")) {
                qCInfo(level_1).noquote() << QStringLiteral("<create_UserFrame_UserFlow>: unit %1 skips \"%2\" in part_cond: not a condition")
                                         .arg(i)
                                         .arg(partType);
                continue;
            }
            if (FlowPart_Base* part = unit->Instance_Structure_FromJson(partObj))
                unit->addptr_2_part_cond(part);  // refuses and releases a non-condition
        }
        if (FlowPart_Base* part =
                unit->Instance_Structure_FromJson(unitObj.value(QStringLiteral("part_detect")).toObject()))
            unit->addptr_2_part_detect(part);  // refuses and releases a non-detect part
    }

    // The file's units run without after-detect parts: say so once per load,
    // with whatever the file holds that is not read back.
    if (!built.isEmpty()) {
        QString line = QStringLiteral("<create_UserFrame_UserFlow>: %1 built from %2 without after-detect parts "
                                      "(no NG stop, no OK/NG outputs)")
                           .arg(built.size() == 1 ? QStringLiteral("unit %1").arg(built.first())
                                                  : QStringLiteral("units %1").arg(built.join(QStringLiteral(", "))))
                           .arg(path());
        if (!ignored.isEmpty())
            line += QStringLiteral("; written but not read back: ") + ignored.join(QStringLiteral("; "));
        qCWarning(level_1).noquote() << line;
    }

    builder.chk_Frameworks(list, build);

    const QJsonObject result = group->get_FlowSerialize();
    if (!build)
        FlowFrameworkBuilder::destroyGroups(preview);
    return result;
}
