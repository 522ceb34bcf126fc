// The user flow file: which units of "./workspace/userflow.json" are built,
// which parts each unit takes, the group JSON of the result, and the file's
// own reading and writing.
#include "flow/flowframeworkbuilder.h"
#include "flow/userflowfile.h"
#include "flowlayouttestbench.h"
#include "support/logcapture.h"
#include "support/scratchdir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace flowlayouttest;

namespace {

QJsonObject unitObj(int index, const QString& name, const QString& type = "FlowUnit_Standard_Detect")
{
    return QJsonObject{{"type", type}, {"name", name}, {"index", index}};
}

QByteArray doc(const QJsonObject& o)
{
    return QJsonDocument(o).toJson();
}

QStringList unitNames(const QJsonObject& group)
{
    QStringList names;
    for (const QJsonValue& u : group.value("units").toArray())
        names << u.toObject().value("name").toString();
    return names;
}

struct FileBench : ManagerBench {
    testsupport::ScratchDir dir;
    testsupport::WorkingDir cwd{dir.path()};

    void writeFile(const QByteArray& data) { dir.write("workspace/userflow.json", data); }
};

}  // namespace

TEST(UserFlowFile, WhichUnitsAreBuilt)
{
    QJsonObject enabledOff = unitObj(0, "A");
    enabledOff.insert("enable", false);
    enabledOff.insert("part_after", QJsonArray{QJsonObject{{"type", "FlowPart_AftDect_NGStop"}, {"name", "stop"}}});

    struct Row {
        const char* name;
        QByteArray file;  // empty: no file
        QStringList units;
    };
    const std::vector<Row> rows = {
        {"no file", QByteArray(), {}},
        {"no units", doc(QJsonObject{{"units", QJsonArray()}}), {}},
        {"array at top level", "[{\"units\": []}]", {}},
        {"not JSON", "{\"units\": [", {}},
        {"two units", doc(QJsonObject{{"units", QJsonArray{unitObj(0, "A"), unitObj(1, "B")}}}), {"A", "B"}},
        {"index differs from position", doc(QJsonObject{{"units", QJsonArray{unitObj(0, "A"), unitObj(5, "B")}}}), {"A"}},
        {"a skipped unit keeps its position",
         doc(QJsonObject{{"units", QJsonArray{unitObj(1, "A"), unitObj(1, "B")}}}), {"B"}},
        {"type is case-sensitive",
         doc(QJsonObject{{"units", QJsonArray{unitObj(0, "A", "flowunit_standard_detect"), unitObj(1, "B")}}}), {"B"}},
        {"not an object", doc(QJsonObject{{"units", QJsonArray{5, unitObj(1, "B")}}}), {"B"}},
        {"enable and after parts are not read", doc(QJsonObject{{"units", QJsonArray{enabledOff}}}), {"A"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FileBench bench;
        if (!row.file.isEmpty())
            bench.writeFile(row.file);
        const QJsonObject group = bench.manager->create_Frameworks(-1, true);
        ASSERT_EQ(bench.groups().size(), 1);
        EXPECT_EQ(unitNames(group), row.units);
        EXPECT_EQ(bench.services.stepCounts, QList<int>{row.units.size()});
        const QList<FlowUnit_Base*> units = bench.groups().at(0)->get_unit_list();
        ASSERT_EQ(units.size(), row.units.size());
        for (int i = 0; i < units.size(); ++i) {
            auto* u = qobject_cast<FlowUnit_Standard_Detect*>(units[i]);
            EXPECT_EQ(u->get_detect_index(), i);
            EXPECT_TRUE(u->get_enable());
            EXPECT_TRUE(u->get_part_after().isEmpty());
            EXPECT_EQ(u->get_user_describe().text("zh-CN"), row.units[i]);
        }
    }
}

// A saved flow loses its after-detect parts (no NG stop, no OK/NG outputs)
// and its "enable": the load says so, once, where the log files see it.
TEST(UserFlowFile, TheLoadSaysOnceWhatItDoesNotReadBack)
{
    QJsonObject full = unitObj(0, "A");
    full.insert("enable", false);
    full.insert("part_after", QJsonArray{QJsonObject{{"type", "FlowPart_AftDect_NGStop"}, {"name", "stop"}}});
    struct Row {
        const char* name;
        QJsonArray units;
        QStringList said;  // parts of the one line; empty: no line
    };
    const std::vector<Row> rows = {
        {"after parts and enable", {full, unitObj(1, "B")},
         {"units 0, 1 built from", "without after-detect parts", "unit 0: enable, part_after"}},
        {"plain units", {unitObj(0, "A")}, {"unit 0 built from", "without after-detect parts"}},
        {"nothing built", {unitObj(3, "A")}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FileBench bench;
        bench.writeFile(doc(QJsonObject{{"units", row.units}}));
        testsupport::LogCapture log;
        bench.manager->create_Frameworks(-1, true);
        EXPECT_EQ(log.count("without after-detect parts"), row.said.isEmpty() ? 0 : 1);
        for (const QString& part : row.said)
            EXPECT_TRUE(log.reachesLogFiles(part)) << part.toStdString() << "\n" << log.lines().join('\n').toStdString();
    }
}

TEST(UserFlowFile, PartsOfAUnit)
{
    const QJsonObject io{{"type", "FlowPart_Cond_IO"}, {"name", "in0"}, {"obj", "x1"}, {"input", QJsonArray{QJsonArray{0, 1}}}};
    const QJsonObject ioPart{{"type", "FlowPart_IO"}, {"name", "io"}, {"input", QJsonArray{QJsonArray{2, 1}}}};
    const QJsonObject chg{{"type", "FlowPart_Cond_IO_ChgOper"}, {"name", "door"}, {"input", QJsonArray{QJsonArray{1, 1}}},
                          {"act_cond_type", "FU_ReDetect"}};
    const QJsonObject pre{{"type", "FlowPart_Cond_PreResult"}, {"name", "pre"}, {"cond_resultctrl_preindex", 0}};
    const QJsonObject stop{{"type", "FlowPart_AftDect_NGStop"}, {"name", "stop"}};
    const QJsonObject detectInCond{{"type", "FlowPart_Detect"}, {"name", "detect"}, {"delay", 100}};
    const QJsonObject unknown{{"type", "FlowPart_Nothing"}, {"name", "?"}};
    const QJsonObject detect{{"type", "FlowPart_Detect"}, {"name", "detect"}, {"delay", 700}, {"redetect_times", 2}};

    struct Row {
        const char* name;
        QJsonArray partCond;
        QStringList summary;
        int skippedLogLines;
    };
    const std::vector<Row> rows = {
        {"conditions", QJsonArray{io, chg, pre}, {"io(0H)", "chg16(1H)", "pre(0)"}, 0},
        {"FlowPart_IO is an IO condition", QJsonArray{ioPart}, {"io(2H)"}, 0},
        {"NG stop and detect are no conditions", QJsonArray{stop, io, detectInCond}, {"io(0H)"}, 2},
        {"unknown type", QJsonArray{unknown, io}, {"io(0H)"}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FileBench bench;
        QJsonObject u = unitObj(0, "A");
        u.insert("part_cond", row.partCond);
        u.insert("part_detect", detect);
        bench.writeFile(doc(QJsonObject{{"units", QJsonArray{u}}}));
        LogLines log;
        bench.manager->create_Frameworks(-1, true);
        auto* unit = bench.unit(0, 0);
        ASSERT_NE(unit, nullptr);
        EXPECT_EQ(summary(unit), row.summary);
        // The built-in operator conditions come first.
        EXPECT_EQ(unit->get_part_cond().first()->get_part_type(), "FlowPart_Cond_ManualTrig");
        EXPECT_EQ(log.count("not a condition"), row.skippedLogLines);
        ASSERT_NE(unit->get_part_detect(), nullptr);
        EXPECT_EQ(unit->get_part_detect()->get_delay_ms(), 700);
        EXPECT_EQ(unit->get_part_detect()->get_redetect_times(), 2);
    }
}

TEST(UserFlowFile, PreviewBuildsAndDestroysItsOwnGroup)
{
    FileBench bench;
    bench.manager->create_Frameworks(0, true);
    const QList<FlowBox_Group*> live = bench.groups();
    bench.writeFile(doc(QJsonObject{{"units", QJsonArray{unitObj(0, "A"), unitObj(1, "B")}}}));

    const QJsonObject group = bench.manager->create_Frameworks(-1, false);
    runDeferredDeletes();

    EXPECT_EQ(unitNames(group), (QStringList{"A", "B"}));
    EXPECT_EQ(group.value("units").toArray().at(1).toObject().value("index").toInt(), 1);
    EXPECT_EQ(bench.groups(), live);
}

TEST(UserFlowFile, WriteThenRead)
{
    testsupport::ScratchDir dir;
    testsupport::WorkingDir cwd(dir.path());
    EXPECT_EQ(UserFlowFile::read(), QJsonObject());

    const QJsonObject flow{{"units", QJsonArray{unitObj(0, "A")}}};
    ASSERT_TRUE(UserFlowFile::write(flow));
    EXPECT_EQ(UserFlowFile::read(), flow);
    EXPECT_TRUE(dir.read("workspace/userflow.json").contains("\n    "));  // indented

    const QJsonObject other{{"units", QJsonArray()}};
    ASSERT_TRUE(UserFlowFile::write(other));
    EXPECT_EQ(UserFlowFile::read(), other);
}
