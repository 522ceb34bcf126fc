#include "httpapi/detectionimagereply.h"

#include "inspection/maskforapp.h"

void DetectionImageReply::fill(CTask_FormData_Mongoose& reply) const
{
    TFM_Data& d = reply.data;
    if (withFrame) {
        d.multipart_fields.insert(QStringLiteral("detectinfo"), detectinfo);
        d.multipart_fields.insert(QStringLiteral("runstateinfo"), runstate);
        d.multipart_images.insert(QStringLiteral("orgmat"), frame);
    }
    d.multipart_fields.insert(QStringLiteral("result"), QJsonObject{{QStringLiteral("rois"), rois}});
    MaskForApp form = MaskForApp::build(mask, scope, appVersion);
    if (form.packed && form.info.value(QStringLiteral("maskscope_width")).toInt() == 0)
        form = MaskForApp::build(mask, scope, QString());  // nothing inside the mask: send it whole
    if (form.packed) {
        d.multipart_fields.insert(QStringLiteral("maskmat-info"), form.info);
        d.multipart_fields.insert(QStringLiteral("maskmat"), form.packedBytes);
    } else {
        d.multipart_images.insert(QStringLiteral("maskmat"), form.whole);
    }
}
