#include "tools/testlan/vethpair.h"

#include <unistd.h>

namespace {
constexpr int kPeerHosts[] = {2, 3, 4};
}

VethPair::VethPair() : m_subnet(100 + int(::getpid() % 100)), m_peerEnd(QStringLiteral("vp%1").arg(::getpid()))
{
    m_peerNet = std::make_unique<IsolatedNetwork>();
    if (!m_peerNet->ok()) {
        m_error = m_peerNet->error();
        return;
    }
    m_device = std::make_unique<LanHost>(1, deviceAddress());
    m_device->start();
    if (!m_device->waitReady()) {
        m_error = m_device->error();
        return;
    }
    QString err = PrivateLan::ip({QStringLiteral("link"), QStringLiteral("add"), m_peerEnd, QStringLiteral("type"),
                                  QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"),
                                  QStringLiteral("eth0"), QStringLiteral("netns"), QString::number(m_device->tid())});
    for (int host : kPeerHosts) {
        if (err.isEmpty())
            err = PrivateLan::ip({QStringLiteral("addr"), QStringLiteral("add"), address(host) + QStringLiteral("/24"),
                                  QStringLiteral("brd"), QStringLiteral("+"), QStringLiteral("dev"), m_peerEnd});
    }
    if (err.isEmpty())
        err = PrivateLan::ip({QStringLiteral("link"), QStringLiteral("set"), m_peerEnd, QStringLiteral("up")});
    if (err.isEmpty() && !m_device->configure(deviceAddress() + QStringLiteral("/24")))
        err = m_device->error();
    m_error = err;
    m_ok = err.isEmpty();
}

VethPair::~VethPair()
{
    m_device.reset();   // the device namespace, and the pair with it, once its programs are gone
    m_peerNet.reset();  // back to where the constructing thread came from
}

QString VethPair::address(int host) const
{
    return QStringLiteral("10.%1.0.%2").arg(m_subnet).arg(host);
}

QStringList VethPair::deviceCommand(const QString& program, const QStringList& arguments) const
{
    const QString ns = QStringLiteral("--net=/proc/%1/task/%2/ns/net").arg(::getpid()).arg(m_device ? m_device->tid() : 0);
    return QStringList{QStringLiteral("nsenter"), ns, QStringLiteral("--"), program} + arguments;
}
