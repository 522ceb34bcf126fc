#pragma once
// Two network namespaces joined by one veth pair, to run a whole program
// against its peers the way it meets them on a plant network:
//   - the peer side: the constructing thread moves into a private network
//     namespace of its own (IsolatedNetwork); its end of the pair carries
//     the addresses 10.<n>.0.2, .3 and .4, so simulators made on that
//     thread afterwards can bind any of them;
//   - the device side: a thread (LanHost) with a namespace of its own, whose
//     end "eth0" carries 10.<n>.0.1 (with the subnet's broadcast address,
//     as a plant network's card has it), its only card besides loopback; a
//     program started through deviceCommand() runs there.
// The peer end is named after the process ("vp" and the process id), and n
// is taken from the process id too, so that two test processes never meet.
// Both namespaces are anonymous: they go away with their last thread,
// socket and process, so nothing is left behind when a test fails or even
// crashes. Needs the right to create network namespaces (root); ok() tells,
// and error() says why not.
#include "tools/iomodulesim/isolatednetwork.h"
#include "tools/testlan/privatelan.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <utility>

class VethPair {
public:
    VethPair();
    ~VethPair();
    VethPair(const VethPair&) = delete;
    VethPair& operator=(const VethPair&) = delete;

    bool ok() const { return m_ok; }
    QString error() const { return m_error; }

    // "10.<n>.0.<host>": host 1 is the device, 2..4 the peer side.
    QString address(int host) const;
    QString deviceAddress() const { return address(1); }
    QString peerEnd() const { return m_peerEnd; }

    // The command line that runs `program` on the device side: nsenter
    // into the device thread's network namespace, then the program.
    QStringList deviceCommand(const QString& program, const QStringList& arguments = {}) const;

    // Runs f on the device side's thread and waits for it; objects made
    // there live on the device (destroy them there too).
    template <class F>
    void onDevice(F&& f)
    {
        m_device->call(std::forward<F>(f));
    }

private:
    std::unique_ptr<IsolatedNetwork> m_peerNet;
    std::unique_ptr<LanHost> m_device;
    int m_subnet = 0;
    QString m_peerEnd;
    bool m_ok = false;
    QString m_error;
};
