#include "support/scratchdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace testsupport {

ScratchDir::ScratchDir() : m_dir(QDir::tempPath() + "/orvale-test-XXXXXX") {}

QString ScratchDir::write(const QString& name, const QByteArray& data) const
{
    const QString p = file(name);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(data);
    return p;
}

QByteArray ScratchDir::read(const QString& name) const
{
    QFile f(file(name));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

WorkingDir::WorkingDir(const QString& dir) : m_old(QDir::currentPath())
{
    QDir::setCurrent(dir);
}

WorkingDir::~WorkingDir()
{
    QDir::setCurrent(m_old);
}

}  // namespace testsupport
