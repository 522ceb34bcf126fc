#include "net/tcpmn_business_server.h"

#include "foundation/zrc_workinformation_manager.h"

TcpMN_Business_Server::TcpMN_Business_Server(QObject* parent) : HttpManager(CLST_Server, parent) {}

TcpMN_Business_Server::~TcpMN_Business_Server() = default;

bool TcpMN_Business_Server::dosync_workevent(const CTask_FormData& form)
{
    callback_immediately(form, 200, QString());
    return true;
}

void TcpMN_Business_Server::SlotRecvRequest(CTask_FormData form)
{
    const std::string user = form.user_id.toUtf8().toStdString();
    ZRC_WorkInformation_Manager::getInstance()->update_working_info([&](ZRC_WorkInfos& w) { w.user_id = user; });
    HttpManager::SlotRecvRequest(form);
}
