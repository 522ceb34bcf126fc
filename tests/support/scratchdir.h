#pragma once
// A temporary folder for one test, removed afterwards.
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

class ScratchDir {
public:
    ScratchDir();
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }
    // Writes `data` to `name` (folders created); returns the full path.
    QString write(const QString& name, const QByteArray& data) const;
    QByteArray read(const QString& name) const;

private:
    QTemporaryDir m_dir;
};

// Makes `dir` the working directory for the lifetime of the object.
class WorkingDir {
public:
    explicit WorkingDir(const QString& dir);
    ~WorkingDir();

private:
    QString m_old;
};

}  // namespace testsupport
