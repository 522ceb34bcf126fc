#include "tools/iomodulesim/isolatednetwork.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
QString lastError(const char* what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}
}  // namespace

IsolatedNetwork::IsolatedNetwork()
{
    m_previous = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (m_previous < 0) {
        m_error = lastError("open /proc/thread-self/ns/net");
        return;
    }
    if (::unshare(CLONE_NEWNET) != 0) {
        m_error = lastError("unshare(CLONE_NEWNET)");
        ::close(m_previous);
        m_previous = -1;
        return;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        m_error = lastError("socket");
        return;
    }
    ifreq req{};
    std::strncpy(req.ifr_name, "lo", IFNAMSIZ - 1);
    if (::ioctl(fd, SIOCGIFFLAGS, &req) == 0) {
        req.ifr_flags |= IFF_UP;
        if (::ioctl(fd, SIOCSIFFLAGS, &req) == 0)
            m_ok = true;
        else
            m_error = lastError("bring loopback up");
    } else {
        m_error = lastError("read loopback flags");
    }
    ::close(fd);
}

IsolatedNetwork::~IsolatedNetwork()
{
    if (m_previous >= 0) {
        // Back to where the thread came from; failure leaves it in the
        // private namespace, which is harmless for a test process.
        (void)::setns(m_previous, CLONE_NEWNET);
        ::close(m_previous);
    }
}
