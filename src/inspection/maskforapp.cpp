#include "inspection/maskforapp.h"

#include "foundation/publictools.h"
#include "foundation/zrc_workinformation_manager.h"
#include "inspection/maskpacking.h"

namespace {

const char* const kLastPackedVersion = "V1.6.7.94";

}  // namespace

bool MaskForApp::takesPackedForm(const QString& appVersion)
{
    if (appVersion.isEmpty())
        return false;
    // 0: the same version, 1: an earlier one; -1 also for fewer than four numbers.
    return getLaterThanVersion(QString::fromLatin1(kLastPackedVersion), appVersion) >= 0;
}

QString MaskForApp::takenAppVersion(const ZRC_WorkInfos& work)
{
    if (work.taken_app_ip.empty())
        return QString();
    const auto it = work.registered_apps.find(work.taken_app_ip);
    return it == work.registered_apps.end() ? QString() : it->second.version;
}

MaskForApp MaskForApp::build(const cv::Mat& mask, const cv::Rect& scope, const QString& appVersion)
{
    MaskForApp form;
    if (!takesPackedForm(appVersion)) {
        form.whole = mask;
        return form;
    }
    form.packed = true;
    const cv::Rect cut = scope & cv::Rect(0, 0, mask.cols, mask.rows);
    cv::Mat part;
    if (!mask.empty() && cut.area() > 0)
        part = mask(cut);
    form.packedBytes = MatMask01Compress2Bytes(part);
    form.info.insert(QStringLiteral("datakey"), QStringLiteral("maskmat"));
    form.info.insert(QStringLiteral("channels"), part.empty() ? mask.channels() : part.channels());
    form.info.insert(QStringLiteral("data_type"), QStringLiteral("8in1_scope"));
    form.info.insert(QStringLiteral("size_width"), mask.cols);
    form.info.insert(QStringLiteral("size_height"), mask.rows);
    form.info.insert(QStringLiteral("maskscope_x"), cut.area() > 0 ? cut.x : 0);
    form.info.insert(QStringLiteral("maskscope_y"), cut.area() > 0 ? cut.y : 0);
    form.info.insert(QStringLiteral("maskscope_width"), cut.area() > 0 ? cut.width : 0);
    form.info.insert(QStringLiteral("maskscope_height"), cut.area() > 0 ? cut.height : 0);
    return form;
}
