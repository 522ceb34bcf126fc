#include "tools/testlan/privatelan.h"

#include <QProcess>

#include <sys/syscall.h>
#include <unistd.h>

namespace {
const char* const kBridge = "lan0";
}

LanHost::LanHost(int index, const QString& address) : m_index(index), m_address(address) {}

LanHost::~LanHost()
{
    quit();
    wait();
}

bool LanHost::waitReady()
{
    m_ready.acquire();
    return m_ok;
}

void LanHost::run()
{
    IsolatedNetwork net;  // this thread only: its own namespace, loopback up
    m_tid = long(::syscall(SYS_gettid));
    QObject context;
    m_context = &context;
    m_ok = net.ok();
    if (!m_ok)
        m_error = net.error();
    m_ready.release();
    if (m_ok)
        exec();
    m_context = nullptr;
}

bool LanHost::configure(const QString& cidr)
{
    QString err;
    call([&] {
        // With its broadcast address, as a plant network's card has it.
        err = PrivateLan::ip({QStringLiteral("addr"), QStringLiteral("add"), cidr, QStringLiteral("brd"),
                              QStringLiteral("+"), QStringLiteral("dev"), QStringLiteral("eth0")});
        if (err.isEmpty())
            err = PrivateLan::ip({QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("eth0"),
                                  QStringLiteral("up")});
    });
    m_error = err;
    m_ok = err.isEmpty();
    return m_ok;
}

QProcess* LanHost::startProgram(const QString& program, const QStringList& arguments)
{
    QProcess* process = nullptr;
    call([&] {
        auto* p = new QProcess(m_context);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(program, arguments);
        if (p->waitForStarted(10000))
            process = p;
        else
            delete p;
    });
    return process;
}

void LanHost::stopProgram(QProcess* process)
{
    if (!process)
        return;
    call([&] {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(10000);
        }
        delete process;
    });
}

PrivateLan::PrivateLan()
{
    m_net = std::make_unique<IsolatedNetwork>();
    if (!m_net->ok()) {
        m_error = m_net->error();
        return;
    }
    const QString bridge = QLatin1String(kBridge);
    m_error = ip({QStringLiteral("link"), QStringLiteral("add"), bridge, QStringLiteral("type"),
                  QStringLiteral("bridge")});
    if (m_error.isEmpty())
        m_error = ip({QStringLiteral("addr"), QStringLiteral("add"), bridgeAddress() + QStringLiteral("/24"),
                      QStringLiteral("dev"), bridge});
    if (m_error.isEmpty())
        m_error = ip({QStringLiteral("link"), QStringLiteral("set"), bridge, QStringLiteral("up")});
    m_ok = m_error.isEmpty();
}

PrivateLan::~PrivateLan()
{
    m_hosts.clear();  // each host's namespace goes with its thread, its veth with it
    m_net.reset();    // back to where the test thread came from; the bridge goes with the namespace
}

LanHost* PrivateLan::addHost()
{
    if (!m_ok)
        return nullptr;
    const int n = m_next++;
    auto host = std::make_unique<LanHost>(n, QStringLiteral("10.77.0.%1").arg(n));
    host->start();
    if (!host->waitReady()) {
        m_error = host->error();
        return nullptr;
    }
    const QString outer = QStringLiteral("vh%1").arg(n);
    QString err = ip({QStringLiteral("link"), QStringLiteral("add"), outer, QStringLiteral("type"),
                      QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"), QStringLiteral("eth0"),
                      QStringLiteral("netns"), QString::number(host->tid())});
    if (err.isEmpty())
        err = ip({QStringLiteral("link"), QStringLiteral("set"), outer, QStringLiteral("master"),
                  QLatin1String(kBridge), QStringLiteral("up")});
    if (err.isEmpty() && !host->configure(host->address() + QStringLiteral("/24")))
        err = host->error();
    if (!err.isEmpty()) {
        m_error = err;
        return nullptr;
    }
    m_hosts.push_back(std::move(host));
    return m_hosts.back().get();
}

void PrivateLan::removeHost(LanHost* host)
{
    for (auto it = m_hosts.begin(); it != m_hosts.end(); ++it) {
        if (it->get() == host) {
            m_hosts.erase(it);
            return;
        }
    }
}

QString PrivateLan::ip(const QStringList& arguments)
{
    QProcess p;
    p.start(QStringLiteral("ip"), arguments);
    if (!p.waitForStarted(10000))
        return QStringLiteral("ip %1: %2").arg(arguments.join(QLatin1Char(' ')), p.errorString());
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("ip %1: %2").arg(arguments.join(QLatin1Char(' ')),
                                               QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
    return QString();
}
