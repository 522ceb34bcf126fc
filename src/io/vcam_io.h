#pragma once
// The camera's IO frame: its IO lives on the UDP IO module (TM_ZRU_IODevice).
// It keeps the current input and output bits in the work information, sends
// outputs only on the main camera of the group and only while work runs,
// raises trigger events in the main thread, and records a machine that has
// stopped sending input changes (the no-input watchdog).
//
// Threads: created in the main thread and lives there (the watchdog timer,
// output requests, raising of triggers). slot_HasInput and the debounce path
// run in the transport thread.
#include "io/frameio.h"
#include "io/iomodule_protocol.h"

class TM_ZRU_IODevice;

class VCam_IO : public FrameIO {
    Q_OBJECT
public:
    // No parent; default trigger flags: input 0 rising, input 1 both edges,
    // every other input rising. No transport yet.
    VCam_IO();
    ~VCam_IO() override;

    using FrameIO::IOSetOut;
    using FrameIO::IOSetOut_Abs;

    // The transport if it is the UDP link, else null.
    TM_ZRU_IODevice* getReactor_Instance() const;
    // Raw protocol text to a peer through the link; false without a link.
    bool sendUdpMessage_Timely(Skt_Session dst, const QByteArray& message) const;

public slots:
    void IOSetOut(int index, int rel) override;
    void IOSetOut_Abs(int index, int level) override;
    void updateIONoInputTip() override;
    void sendOutPut(int index, int level) override;
    void slot_HasInput(int inputdata) override;
    void slot_TimerIO_NoInput() override;
    int RealTriggering() override;
};
