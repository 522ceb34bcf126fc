#pragma once
// One camera with its IO frame and UDP link, and its peers, in a private
// network of its own (IsolatedNetwork): the camera on 127.0.0.1 with its
// fixed ports 10412 and 10410, the simulated IO module on 127.0.0.2:10411,
// and any other peer a test asks for (an app on 127.0.0.4, another camera on
// 127.0.0.3). Nothing leaves the private network and no two tests share it,
// so tests may run in parallel.
//
// Construct it first thing in a test; when ok() is false (no right to make a
// network namespace), skip.
#include "io/tm_zru_iodevice.h"
#include "io/vcam_io.h"
#include "iotestbench.h"
#include "tools/iomodulesim/iomodulesimulator.h"
#include "tools/iomodulesim/isolatednetwork.h"
#include "udpsniffer.h"

#include <map>
#include <memory>
#include <utility>

namespace iotest {

class LinkBench {
public:
    explicit LinkBench(Role role = Role::Main, bool withCard = true)
    {
        if (!net.ok())
            return;
        sniffer = std::make_unique<UdpSniffer>();
        camera = std::make_unique<CameraSetup>(role, withCard);
        frame = std::make_unique<VCam_IO>();
        link = new TM_ZRU_IODevice;
        frame->setReactor(link);
        listening = IoModuleSimulator::waitFor([this] { return link->listeningPorts().size() == 2; }, 3000);
        module = &peer(kModuleIp, 10411);
    }

    ~LinkBench()
    {
        peers.clear();
        frame.reset();  // the link goes with it, before the network
        camera.reset();
        sniffer.reset();
    }

    bool ok() const
    {
        return net.ok() && sniffer && sniffer->ok() && listening && module && module->errorString().isEmpty();
    }
    QString why() const { return net.ok() ? QStringLiteral("the link or a peer could not bind") : net.error(); }

    // A listener at address:port (made on first use), sending to the camera's 10412.
    IoModuleSimulator& peer(const QString& address, quint16 port)
    {
        const auto key = std::make_pair(address, port);
        auto it = peers.find(key);
        if (it == peers.end()) {
            IoModuleSimulator::Config cfg;
            cfg.address = QHostAddress(address);
            cfg.port = port;
            cfg.camera = QHostAddress(kCameraIp);
            cfg.moduleId = kModuleId;
            cfg.heartbeatMs = 0;
            auto sim = std::make_unique<IoModuleSimulator>(cfg);
            sim->start();
            it = peers.emplace(key, std::move(sim)).first;
        }
        return *it->second;
    }

    // Handles one message in the link's thread, as if `src` had sent it.
    QString analyse(const QString& address, int port, const QByteArray& message)
    {
        QString status;
        QMetaObject::invokeMethod(
            link, [&] { status = link->AnalysisRecvMessage(Skt_Session{address, port}, message); },
            Qt::BlockingQueuedConnection);
        return status;
    }

    // Every datagram received by every peer so far, oldest first per peer.
    QList<std::pair<QString, QByteArray>> allReceived() const
    {
        QList<std::pair<QString, QByteArray>> out;
        for (const auto& p : peers) {
            for (const auto& d : p.second->received())
                out.append({QStringLiteral("%1:%2").arg(p.first.first).arg(p.first.second), d.data});
        }
        return out;
    }
    void clearReceived()
    {
        for (auto& p : peers)
            p.second->clearReceived();
    }

    IsolatedNetwork net;  // first: everything below lives in it
    std::unique_ptr<UdpSniffer> sniffer;
    std::unique_ptr<CameraSetup> camera;
    std::unique_ptr<VCam_IO> frame;
    TM_ZRU_IODevice* link = nullptr;  // owned by the frame
    IoModuleSimulator* module = nullptr;
    bool listening = false;

private:
    std::map<std::pair<QString, quint16>, std::unique_ptr<IoModuleSimulator>> peers;
};

}  // namespace iotest
