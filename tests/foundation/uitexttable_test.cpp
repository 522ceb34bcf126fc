#include "foundation/uitexttable.h"

#include "foundation/qstring_tl.h"

#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

namespace {

QString cell(int row, int column)
{
    return gaLanStr[row * kUiTextColumns + column];
}

QSet<QString> placeholders(const QString& text)
{
    QSet<QString> found;
    auto it = QRegularExpression(QStringLiteral("%\\d")).globalMatch(text);
    while (it.hasNext())
        found.insert(it.next().captured(0));
    return found;
}

// Kept first: the table is empty until InitData runs.
TEST(UiTextTable, EmptyUntilInitDataFillsIt)
{
    for (int i = 0; i < kUiTextRows * kUiTextColumns; ++i)
        ASSERT_TRUE(gaLanStr[i].isEmpty()) << i;
    InitData();
    EXPECT_FALSE(cell(235, 0).isEmpty());
}

TEST(UiTextTable, RowsTheParameterCheckReads)
{
    InitData();
    struct Case {
        int row;
        const char* zhCN;
        const char* en;
        const char* zhTW;
    };
    const Case cases[] = {
        {22, "过滤尺寸", "filter Size", "過濾尺寸"},
        {190, "成品检测NG时顶针输出脉冲，不报警停机", "Ejector pulse when NG in prod, don't' alarm",
         "成品檢測NG時頂針輸出脈衝，不報警停機"},
        {235, "修改了系统参数", "Modify the system parameters", "修改了系統參數"},
        {236, "，%1延时从%2改为%3", ", The time delay for detection %1is changed from %2 to %3",
         "，%1延時從%2改為%3"},
        {240, "，%1 改为", ", %1 is changed to ", "，%1 改為"},
        {245, "，%1从%2改为%3", ", %1 is changed from %2 to %3", "，%1從%2改為%3"},
        {250, "启用", "active", "啟用"},
        {251, "不用", "deactive", "不用"},
        {263, "成品", "Prod", "成品"},
        {264, "模腔", "Mold", "模腔"},
        {457, "模板为NG图像", "NG image", "範本為NG圖像"},
        {580, "模腔检测NG时，合模输出脉冲，不停机",
         "When the mold cavity is detected as NG, the mold is closed and the pulse is output without "
         "stopping the machine.",
         "模腔檢測NG時，合模輸出脈衝，不停機"},
        {582, "复检时仅检测NG相机", "Only the NG cameras are tested during the re-inspection.",
         "复检时仅检测NG相机"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cell(c.row, 0), QString::fromUtf8(c.zhCN)) << c.row;
        EXPECT_EQ(cell(c.row, 1), QString::fromUtf8(c.en)) << c.row;
        EXPECT_EQ(cell(c.row, 2), QString::fromUtf8(c.zhTW)) << c.row;
    }
}

TEST(UiTextTable, TextsKeepTheirLineBreaksAndQuotes)
{
    InitData();
    EXPECT_EQ(cell(68, 1), QStringLiteral("If you want to delete the first \r\ntemplate, please click \"Resample\"!"));
    EXPECT_EQ(cell(458, 1), QStringLiteral("calibrate \n touch screen"));
    EXPECT_EQ(cell(86, 1), QString::fromUtf8("，Changing the maximum gradation from %1 to %2"));
    EXPECT_EQ(cell(218, 1), QStringLiteral("camera %1 detection %2 %3  %5 / %4    %6"));
    EXPECT_EQ(cell(212, 1), QString::fromUtf8("Live↔Temp"));
}

TEST(UiTextTable, UngivenRowsAndTheTailStayEmpty)
{
    InitData();
    QList<int> rows = {47, 48, 61, 71, 105, 150, 153, 321, 360, 530, 539, 578, 549, 552, 561};
    for (int r = 583; r < kUiTextRows; ++r)
        rows << r;
    for (int r : rows)
        for (int c = 0; c < kUiTextColumns; ++c)
            EXPECT_TRUE(cell(r, c).isEmpty()) << r << "," << c;
}

// Every row with an English text has both Chinese columns, and all three
// columns take the same placeholders, so a format filled with .arg() reads
// the same values whatever the language.
TEST(UiTextTable, EveryFilledRowHasAllLanguagesWithTheSamePlaceholders)
{
    InitData();
    int filled = 0;
    for (int r = 0; r < kUiTextRows; ++r) {
        const QString en = cell(r, 1);
        if (en.isEmpty())
            continue;
        ++filled;
        EXPECT_FALSE(cell(r, 0).isEmpty()) << r;
        EXPECT_FALSE(cell(r, 2).isEmpty()) << r;
        EXPECT_EQ(placeholders(cell(r, 0)), placeholders(en)) << r;
        EXPECT_EQ(placeholders(cell(r, 2)), placeholders(en)) << r;
    }
    EXPECT_EQ(filled, 543);
}

TEST(UiTextTable, CheckedReadFollowsTheLanguageColumnAndStaysInBounds)
{
    InitData();
    gLan = 1;
    EXPECT_EQ(uiText(250), QStringLiteral("active"));
    gLan = 2;
    EXPECT_EQ(uiText(250), QString::fromUtf8("啟用"));
    gLan = 3;
    EXPECT_TRUE(uiText(599).isEmpty());
    gLan = 0;
    EXPECT_EQ(uiText(250), QString::fromUtf8("启用"));
    EXPECT_TRUE(uiText(kUiTextRows, 0).isEmpty());
    EXPECT_TRUE(uiText(-1, 0).isEmpty());
    EXPECT_TRUE(uiText(0, -1).isEmpty());
    EXPECT_EQ(uiText(0, 1), QStringLiteral("Camera parameter file error!"));
}

}  // namespace
