#include "httpapi/ctask_formdata_mongoose.h"

namespace {
const int kMetaTypeId = qRegisterMetaType<CTask_FormData_Mongoose>("CTask_FormData_Mongoose");
}

void CTask_FormData_Mongoose::inherit(const CTask_FormData_Mongoose& src)
{
    (void)kMetaTypeId;
    connection = src.connection;
    peer_ip = src.peer_ip;
    data.url = src.data.url;
    data.method = src.data.method;
    data.user_agent = src.data.user_agent;
    data.device_id = src.data.device_id;
    data.user_id = src.data.user_id;
}

void CTask_FormData_Mongoose::addAccessControl()
{
    data.headers.insert(QStringLiteral("Access-Control-Allow-Origin"), QStringLiteral("*"));
    data.headers.insert(QStringLiteral("Access-Control-Allow-Methods"), QStringLiteral("*"));
}
