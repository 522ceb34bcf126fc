// liveness_holder create <key> <size> <text>: makes a segment, writes the
//   text, says "ready" and holds the segment until killed.
// liveness_holder write <key> <periodMs>: attaches to an existing segment and
//   writes a fresh record every period, saying "ready" after the first.
// liveness_holder stuck <key>: attaches, writes one record, then takes the
//   segment's lock, says "ready" and never lets it go (a writer stopped
//   in the middle of a write).
#include <QCoreApplication>
#include <QDateTime>
#include <QSharedMemory>
#include <QThread>

#include <cstdio>
#include <cstring>

namespace {
void put(QSharedMemory& m, const QByteArray& text)
{
    m.lock();
    std::memset(m.data(), 0, size_t(m.size()));
    std::memcpy(m.data(), text.constData(), size_t(qMin(text.size(), m.size() - 1)));
    m.unlock();
}
}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    if (a.size() == 5 && a[1] == QLatin1String("create")) {
        QSharedMemory m(a[2]);
        if (!m.create(a[3].toInt()))
            return 2;
        put(m, a[4].toUtf8());
        std::printf("ready\n");
        std::fflush(stdout);
        for (;;)
            QThread::sleep(1);
    }
    if (a.size() == 4 && a[1] == QLatin1String("write")) {
        QSharedMemory m(a[2]);
        if (!m.attach())
            return 2;
        for (qint64 n = 0;; ++n) {
            put(m, QStringLiteral("{\"ms_1000\":%1,\"main_alive\":1,\"n\":%2}")
                       .arg(QDateTime::currentMSecsSinceEpoch() / 1000)
                       .arg(n)
                       .toUtf8());
            if (n == 0) {
                std::printf("ready\n");
                std::fflush(stdout);
            }
            QThread::msleep(a[3].toULong());
        }
    }
    if (a.size() == 3 && a[1] == QLatin1String("stuck")) {
        QSharedMemory m(a[2]);
        if (!m.attach())
            return 2;
        put(m, QByteArrayLiteral("{\"ms_1000\":1700000000,\"main_alive\":1}"));
        if (!m.lock())
            return 3;
        std::printf("ready\n");
        std::fflush(stdout);
        for (;;)
            QThread::sleep(1);
    }
    return 1;
}
