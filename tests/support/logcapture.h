#pragma once
// Records the log messages written while it lives (and passes nothing on),
// so a test can assert on what was logged. One capture at a time.
#include <QMutex>
#include <QMutexLocker>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

namespace testsupport {

class LogCapture {
public:
    LogCapture()
    {
        {
            QMutexLocker lock(&mutex());
            store().clear();
        }
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every message, in order.
    QStringList messages() const { return collect(false); }
    QStringList lines() const { return messages(); }
    // The warnings only.
    QStringList warnings() const { return collect(true); }

    // Whether one message is exactly `line`.
    bool contains(const QString& line) const { return messages().contains(line); }
    // How many messages contain `text`.
    int count(const QString& text) const
    {
        int n = 0;
        for (const QString& m : messages())
            n += m.contains(text) ? 1 : 0;
        return n;
    }
    // Whether a message containing `text` reaches the running program's log
    // files: start-up lets only the "level_1" category through (debug never).
    bool reachesLogFiles(const QString& text) const
    {
        QMutexLocker lock(&mutex());
        for (const Entry& e : store()) {
            if (e.first != QtDebugMsg && e.category == QLatin1String("level_1") && e.second.contains(text))
                return true;
        }
        return false;
    }
    // Whether a warning contains `text`.
    bool anyContains(const QString& text) const
    {
        for (const QString& w : warnings()) {
            if (w.contains(text))
                return true;
        }
        return false;
    }
    void clear()
    {
        QMutexLocker lock(&mutex());
        store().clear();
    }

private:
    struct Entry {
        QtMsgType first;  // the type
        QString second;   // the text
        QString category;
    };
    static QMutex& mutex()
    {
        static QMutex m;
        return m;
    }
    static QVector<Entry>& store()
    {
        static QVector<Entry> s;
        return s;
    }
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
    {
        QMutexLocker lock(&mutex());
        store().append({type, msg, QString::fromLatin1(context.category ? context.category : "")});
    }
    QStringList collect(bool warningsOnly) const
    {
        QMutexLocker lock(&mutex());
        QStringList out;
        for (const Entry& e : store()) {
            if (!warningsOnly || e.first == QtWarningMsg)
                out << e.second;
        }
        return out;
    }

    QtMessageHandler m_previous = nullptr;
};

}  // namespace testsupport
