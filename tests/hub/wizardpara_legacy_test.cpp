// The import of the older per-row parameter storage.
#include "hub/hubtestbench.h"
#include "foundation/qstring_tl.h"
#include "io/vcam_io.h"

#include <functional>

using hubtest::ParamConnection;
using hubtest::WorkDir;

namespace {

QString numbers(std::initializer_list<const char*> tokens)
{
    QStringList out;
    for (const char* t : tokens)
        out << t;
    return out.join(' ');
}

QString zeros(int n)
{
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << "0";
    return out.join(QLatin1Char(0x20));
}

}  // namespace

TEST(WizardParaLegacyTest, RowsAreReadByPosition)
{
    struct Case {
        const char* name;
        QMap<QString, QString> rows;
        std::function<void(WizardPara&)> before;
        std::function<void(const WizardPara&, const VCam_IO&)> check;
    };
    const Case cases[] = {
        {"system2 ending after 20 numbers keeps the two optional values",
         {{"system2", zeros(20)}},
         [](WizardPara& p) {
             p.i_input3NoCheck = true;
             p.i_closeNGBuzzer_Muti = 2;
         },
         [](const WizardPara& p, const VCam_IO&) {
             EXPECT_TRUE(p.i_input3NoCheck);
             EXPECT_EQ(p.i_closeNGBuzzer_Muti, 2);
         }},
        {"system2 with 22 numbers takes them",
         {{"system2", zeros(20) + " 1 2"}},
         [](WizardPara&) {},
         [](const WizardPara& p, const VCam_IO&) {
             EXPECT_TRUE(p.i_input3NoCheck);
             EXPECT_EQ(p.i_closeNGBuzzer_Muti, 2);
         }},
        {"motion correction 0 is on", {{"system1", "0 0 0 0"}}, [](WizardPara&) {},
         [](const WizardPara& p, const VCam_IO&) { EXPECT_TRUE(p.s_sport_correction); }},
        {"motion correction -1 is off", {{"system1", "0 0 0 -1"}}, [](WizardPara&) {},
         [](const WizardPara& p, const VCam_IO&) { EXPECT_FALSE(p.s_sport_correction); }},
        {"the eighth delay number is four switches", {{"trigInDelay", "5 7 0 0 3 4 6 257"}}, [](WizardPara&) {},
         [](const WizardPara& p, const VCam_IO&) {
             EXPECT_TRUE(p.i_isCloseAllow);
             EXPECT_TRUE(p.i_isCloseCut);
             EXPECT_FALSE(p.i_isNG0NoCut);
             EXPECT_FALSE(p.i_isNG0CutT);
             EXPECT_EQ(p.s_product_delaytime, 5);
             EXPECT_EQ(p.s_moulding_delaytime, 7);
             EXPECT_EQ(p.i_precut, 6);
         }},
        {"language 5 is reset", {{"system2", numbers({"0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "5"})}},
         [](WizardPara&) {}, [](const WizardPara&, const VCam_IO&) { EXPECT_EQ(gLan.load(), 0); }},
        {"a token that is not a number reads 0 in its place",
         {{"system4", zeros(12) + " abc 7 250"}, {"exposeTime", "0 x 3"}},
         [](WizardPara&) {},
         [](const WizardPara& p, const VCam_IO&) {
             EXPECT_EQ(p.s_filtersize, 7);
             EXPECT_EQ(p.s_alarmareas, 250);
             EXPECT_EQ(gCamareIndex, 0);
         }},
        {"range replacements",
         {{"system4", zeros(15)}, {"system2", zeros(15) + " 20"}},
         [](WizardPara&) {},
         [](const WizardPara& p, const VCam_IO&) {
             EXPECT_EQ(p.s_filtersize, 3);
             EXPECT_EQ(p.h_mostskewing, 8000);
             EXPECT_EQ(p.system2_16, 600);
             EXPECT_TRUE(p.c_start_flawdetect);
         }},
        {"IO values and the processor mode",
         {{"system7", "0 0 1 0 1 0 1 0 1 0 0 0 0 0 0 0 0 0 0 1 1"}, {"system6", zeros(8) + " 4"},
          {"numFailDetect", "0 0 0 1 0 0 0 1"}, {"exposeTime", "0 2"}},
         [](WizardPara&) {},
         [](const WizardPara& p, const VCam_IO& io) {
             const FrameIO_Params params = io.getParams();
             EXPECT_EQ(params.output_init_status[0], 1);
             EXPECT_EQ(params.output_init_status[1], 0);
             EXPECT_EQ(params.output_init_status[2], 1);
             EXPECT_EQ(params.output_init_status[3], 1);
             EXPECT_EQ(params.shakeerase_time, 4);
             EXPECT_TRUE(p.c_grayrepcolor);
             EXPECT_TRUE(p.c_whitespotnum);
             EXPECT_TRUE(p.h_is_recheck_only_ng_camera);
             EXPECT_TRUE(p.numFailDetect_4);
             EXPECT_TRUE(p.c_similarity);
             EXPECT_FALSE(p.c_start_flawdetect) << "a detection is on";
             EXPECT_EQ(gCamareIndex, 2);
         }},
    };
    for (const Case& c : cases) {
        WorkDir wd;
        ParamConnection pc(wd.file("PARAM.db"));
        for (auto it = c.rows.begin(); it != c.rows.end(); ++it)
            pc.put(it.key(), it.value());
        VCam_IO io;
        WizardPara para(nullptr, &io);
        c.before(para);
        gLan.store(0);
        SCOPED_TRACE(c.name);
        para.LoadDatafromFile();
        c.check(para, io);
        gLan.store(0);
    }
}

TEST(WizardParaLegacyTest, MissingLaterRowsAreAddedButNotReadInTheSameRun)
{
    WorkDir wd;
    ParamConnection pc(wd.file("PARAM.db"));
    WizardPara para;
    para.LoadDatafromFile();
    EXPECT_EQ(para.GetTableValue("sysparam", "system7"), "0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0");
    EXPECT_EQ(para.GetTableValue("sysparam", "system10"), zeros(21));
    EXPECT_EQ(gCamareIndex, -1);
}
