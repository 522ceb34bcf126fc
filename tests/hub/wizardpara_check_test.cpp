// The change record of a parameter change: one record per change set, its
// text in the operator's language, one fragment per changed value.
#include "hub/hubtestbench.h"
#include "foundation/qstring_tl.h"
#include "foundation/uitexttable.h"
#include "io/vcam_io.h"

#include <functional>

using hubtest::FakeParaHost;

TEST(WizardParaCheckTest, TheRecordListsEveryChangeInTheCurrentLanguage)
{
    struct Case {
        const char* name;
        int lan;
        std::function<void(WizardPara&)> stored;
        std::function<void(QJsonObject&)> change;
        QString text;
    };
    const Case cases[] = {
        {"unchanged", 0, [](WizardPara&) {}, [](QJsonObject&) {}, "修改了系统参数"},
        {"product delay", 0, [](WizardPara& p) { p.s_product_delaytime = 10; },
         [](QJsonObject& in) { in["s_product_delaytime"] = 1.5; }, "修改了系统参数，成品延时从1.0改为1.5"},
        {"filter size and similarity in English", 1, [](WizardPara& p) { p.s_filtersize = 3; },
         [](QJsonObject& in) {
             in["s_filtersize"] = 5;
             in["c_similarity"] = true;
         },
         "Modify the system parameters, filter Size is changed from 3 to 5, Enable similarity is changed to active"},
        {"a delay that truncates to the stored value still counts", 0, [](WizardPara& p) { p.s_product_delaytime = 3; },
         [](QJsonObject& in) { in["s_product_delaytime"] = 0.29; }, "修改了系统参数，成品延时从0.3改为0.3"},
        {"input timeout within the same second", 0, [](WizardPara&) {},
         [](QJsonObject& in) { in["i_inputtimeout"] = 60.5; }, "修改了系统参数"},
        {"conditional keys absent", 0,
         [](WizardPara& p) {
             p.c_defect_canny_ingore = true;
             p.i_closeNGBuzzer_Muti = 1;
         },
         [](QJsonObject& in) {
             in.remove("c_defect_canny_ingore");
             in.remove("i_input3NoCheck");
             in["i_closeNGBuzzer_Muti"] = 2;
         },
         "修改了系统参数"},
        {"a missing unconditional key reads false", 0, [](WizardPara& p) { p.h_startlog = true; },
         [](QJsonObject& in) { in.remove("h_startlog"); }, "修改了系统参数，启用日志 改为不用"},
        {"run mode without a name shows its number", 0, [](WizardPara&) {},
         [](QJsonObject& in) { in["i_program_logic"] = 7; }, "修改了系统参数，运行模式从标准机改为7"},
        {"pulse mode", 0, [](WizardPara&) {}, [](QJsonObject& in) { in["i_isNG0Pulse_Muti"] = 2; },
         "修改了系统参数修改为：成品检测NG时顶针输出脉冲，不停机.报警"},
        {"pulse switch with an apostrophe", 1, [](WizardPara&) {},
         [](QJsonObject& in) {
             in.remove("i_isNG0Pulse_Muti");
             in["i_isNG0Pulse"] = true;
         },
         "Modify the system parameters, Ejector pulse when NG in prod, don't' alarm is changed to active"},
        {"IO values", 0, [](WizardPara&) {},
         [](QJsonObject& in) {
             in["i_output2_init_status"] = 1;
             in["i_shakeerase_time"] = 0.5;
         },
         "修改了系统参数，去抖时长从0改为0.5，输出2初始状态从0改为1"},
        {"pulse time", 0, [](WizardPara& p) { p.i_thimble_pulse = 15; },
         [](QJsonObject& in) { in["i_thimble_pulse"] = 2; }, "修改了系统参数，顶针脉冲从1.5改为2"},
    };
    InitData();
    for (const Case& c : cases) {
        VCam_IO io;
        io.setIO_NoInputTip_LimitTime(60);
        FakeParaHost host;
        WizardPara para(&host, &io);
        c.stored(para);
        QJsonObject in;
        para.GetParams(in);
        c.change(in);
        gLan.store(c.lan);
        para.CheckParam(in);
        gLan.store(0);
        ASSERT_EQ(host.records.size(), 1) << c.name;
        EXPECT_EQ(host.records[0].text, c.text) << c.name;
        EXPECT_EQ(host.records[0].type, "operate") << c.name;
    }
}
