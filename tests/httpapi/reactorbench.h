#pragma once
// A reactor on a free loopback port with test routes, and the small helpers
// its tests share (curl, waiting, MD5).
#include "httpapi/httpreactor_mg.h"
#include "support/rawhttpclient.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>

namespace reactorbench {

template <typename F>
bool waitUntil(F cond, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (cond())
            return true;
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
    return cond();
}

// The answer a handler gives with the reactor's reply building.
inline void answerJson(HttpReactor_MG& reactor, const CTask_FormData_Mongoose& req, const QJsonObject& result = {},
                       int code = 0, const QString& msg = QStringLiteral("OK"))
{
    CTask_FormData_Mongoose reply;
    reply.inherit(req);
    reply.data.device_id = QStringLiteral("testcam");
    reply.data.code = code;
    reply.data.msg = msg;
    reply.data.json = result;
    reactor.finishWorkAction(reply);
}

class Bench {
public:
    explicit Bench(const QString& cacheFolder = QStringLiteral("/userdata/tmp/"))
    {
        reactor.set_cachefile_path(cacheFolder);
    }
    ~Bench() { reactor.stopAll(); }

    // Starts the server and the workers; true once it serves.
    bool start()
    {
        reactor.reAction(QHostAddress::LocalHost, 0);
        return waitUntil([&] { return reactor.serverPort() != 0 && reactor.isRunning_mg(); });
    }
    quint16 port() const { return reactor.serverPort(); }

    QByteArray raw(const QByteArray& request, int timeoutMs = 5000)
    {
        return testsupport::rawHttpExchange(port(), request, timeoutMs);
    }
    QByteArray get(const QByteArray& target, const QByteArray& extraHeaders = QByteArray())
    {
        return raw("GET " + target + " HTTP/1.1\r\nHost: t\r\n" + extraHeaders + "\r\n");
    }

    // curl with these arguments against http://127.0.0.1:<port><path>; stdout.
    QByteArray curl(const QString& path, const QStringList& args, int* exitCode = nullptr)
    {
        QProcess p;
        p.start(QStringLiteral("curl"), QStringList{QStringLiteral("-s"), QStringLiteral("--max-time"), QStringLiteral("60")}
                                            + args + QStringList{QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path)});
        p.waitForFinished(70000);
        if (exitCode)
            *exitCode = p.exitCode();
        return p.readAllStandardOutput();
    }

    HttpReactor_MG reactor;
};

inline QByteArray md5OfFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash h(QCryptographicHash::Md5);
    h.addData(&f);
    return h.result().toHex();
}

}  // namespace reactorbench
