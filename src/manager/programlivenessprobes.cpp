#include "manager/programlivenessprobes.h"

#include "foundation/zrc_workinformation_manager.h"
#include "httpapi/httpreactor_mg.h"
#include "io/frameio.h"
#include "manager/apppushes.h"
#include "net/tm_zrp_publish.h"

bool ProgramLivenessProbes::ioLinkUp()
{
    return m_parts.io && m_parts.io->getIsCnted();
}

bool ProgramLivenessProbes::cameraLinksUp()
{
    if (m_parts.cameraLinksUp)
        return m_parts.cameraLinksUp();
    ZRC_WorkInformation_Manager* wim = ZRC_WorkInformation_Manager::getInstance();
    return !wim->IsMainCamera() || wim->getSubCameras().isEmpty();
}

void ProgramLivenessProbes::resetOutputs()
{
    if (m_parts.io)
        m_parts.io->IOSetOut_ResetAllKeep();
}

void ProgramLivenessProbes::cutOutputs()
{
    if (m_parts.io)
        m_parts.io->IOSetOut_AllCutoff();
}

bool ProgramLivenessProbes::mainAlive()
{
    return m_parts.pushes && m_parts.pushes->refreshAlive();
}

bool ProgramLivenessProbes::ioAlive()
{
    return m_parts.io && m_parts.io->getTimerAlived();
}

bool ProgramLivenessProbes::camPairsAlive()
{
    return m_parts.camPairsAlive && m_parts.camPairsAlive();
}

bool ProgramLivenessProbes::httpServerAlive()
{
    return m_parts.http && m_parts.http->isRunning_mg();
}

bool ProgramLivenessProbes::heartbeatAlive()
{
    return m_parts.publisher && m_parts.publisher->get_UdpHB_TimerAlived();
}

QList<QPair<QString, int>> ProgramLivenessProbes::heartbeatTargets()
{
    QList<QPair<QString, int>> targets;
    if (!m_parts.publisher)
        return targets;
    const QMap<QString, int> states = m_parts.publisher->get_UdpHB_IsCnted();
    for (auto it = states.cbegin(); it != states.cend(); ++it)
        targets.append({it.key(), it.value()});
    return targets;
}
