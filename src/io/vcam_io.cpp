#include "io/vcam_io.h"

#include "foundation/logmanager.h"
#include "io/ioworkinfo.h"
#include "io/tm_zru_iodevice.h"

#include <QMutexLocker>
#include <QThread>

#include <climits>

VCam_IO::VCam_IO()
{
    const int trig[kIoPointCount] = {1, 3, 1, 1, 1, 1, 1, 1};
    setIO_TrigIn(trig);
}

VCam_IO::~VCam_IO()
{
    releaseReactor();
}

TM_ZRU_IODevice* VCam_IO::getReactor_Instance() const
{
    return qobject_cast<TM_ZRU_IODevice*>(reactor.data());
}

bool VCam_IO::sendUdpMessage_Timely(Skt_Session dst, const QByteArray& message) const
{
    TM_ZRU_IODevice* link = getReactor_Instance();
    return link && link->sendUdpMessage_Timely(dst, message);
}

void VCam_IO::IOSetOut(int index, int rel)
{
    if (!ioworkinfo::isMainCamera() || !ioworkinfo::isRunning())
        return;
    FrameIO::IOSetOut(index, rel);
}

void VCam_IO::IOSetOut_Abs(int index, int level)
{
    if (!ioworkinfo::isMainCamera() || !ioworkinfo::isRunning())
        return;
    FrameIO::IOSetOut_Abs(index, level);
}

void VCam_IO::sendOutPut(int index, int level)
{
    if (!reactor || index < 0 || index >= kIoPointCount)
        return;
    reactor->flushOverdueWindow();
    ioworkinfo::storeOutputBit(index, level);
    reactor->HasOutput(1);
}

void VCam_IO::slot_HasInput(int inputdata)
{
    const int old = ioworkinfo::exchangeInputBits(inputdata);
    checkIOInput(inputdata, old);
}

void VCam_IO::updateIONoInputTip()
{
    if (QThread::currentThread() != thread()) {
        // The watchdog timer belongs to the frame's thread.
        QMetaObject::invokeMethod(this, [this] { updateIONoInputTip(); }, Qt::QueuedConnection);
        return;
    }
    ioworkinfo::setNoInputWarning(false);
    double limit = 0;
    {
        QMutexLocker lock(&params_mutex);
        limit = params.inputtimeout;
    }
    if (limit > 0) {
        // The limit may be up to 1e8 s; a timer cannot wait longer than INT_MAX ms.
        const double ms = limit * 1000.0;
        timer_noinput.start(ms >= double(INT_MAX) ? INT_MAX : int(ms));
    } else {
        timer_noinput.stop();
        ioworkinfo::setNoInputWarning(false);
    }
}

void VCam_IO::slot_TimerIO_NoInput()
{
    double limit = 0;
    {
        QMutexLocker lock(&params_mutex);
        limit = params.inputtimeout;
    }
    ioworkinfo::insertSystemRecord(tr("警告：长时间没有输入信号！"));
    ioworkinfo::setNoInputWarning(limit > 0);
}

int VCam_IO::RealTriggering()
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this] { RealTriggering(); }, Qt::QueuedConnection);
        return 0;
    }
    const QMap<int, ElectricLevel> levels = takeTriggerLevels();
    if (levels.isEmpty())
        return -1;
    ioworkinfo::clearWarningTip();
    updateIONoInputTip();
    if (ioworkinfo::isRunning() && ioworkinfo::moduleState() == 3) {
        // The IO side of a cycle's time, as [IO_OUTPUT] is of its end.
        QString text;
        for (auto it = levels.cbegin(); it != levels.cend(); ++it)
            text += QStringLiteral(" %1:%2").arg(it.key()).arg(int(it.value()));
        qCInfo(level_1).noquote() << "[IO_INPUT] trigger to the flow" << text.trimmed();
        emit sig_HasIOTrig(levels);
    }
    return 1;
}
