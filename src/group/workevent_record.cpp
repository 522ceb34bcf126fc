#include "group/workevent_record.h"

#include "foundation/logmanager.h"

#include <QDebug>
#include <QMutexLocker>
#include <QStringList>

namespace {

QString cell(const QString& text) { return text.leftJustified(15, QLatin1Char(' ')); }

QString row(const QStringList& cells)
{
    QStringList items{QStringLiteral("*")};
    for (const QString& c : cells)
        items << cell(c);
    return items.join(QLatin1Char(' '));
}

}  // namespace

QMap<QString, SCollect_Unit> WorkEvent_Record::get_collectlist() const
{
    QMutexLocker lock(&mutex);
    return collectlist;
}

void WorkEvent_Record::print_report(const SRPC_WS_Interface& view, int work_state) const
{
    const QString frame(50, QLatin1Char('*'));
    const QMap<QString, SCollect_Unit> units = get_collectlist();
    qInfo().noquote() << frame;
    qCInfo(level_1).noquote() << QStringLiteral("* work_state: %1 , sync_alltime(ms): %2")
                                     .arg(work_state)
                                     .arg(finish_time - create_time);
    // The header and a row per camera reach the log files: on the main
    // camera they are what tells which camera made a group's verdict NG.
    qCInfo(level_1).noquote() << row({QStringLiteral("name"), QStringLiteral("result"), QStringLiteral("sync(ms)"),
                                      QStringLiteral("calc(ms)")});
    for (auto it = units.constBegin(); it != units.constEnd(); ++it) {
        const int sub = view.getSubIndex(it.key());
        QString name;
        if (sub != -1)
            name = QStringLiteral("sub_%1").arg(sub);
        else if (it.key() == view.main_id)
            name = QStringLiteral("main");
        const SCollect_Unit& u = it.value();
        qCInfo(level_1).noquote() << row({name, u.result ? QStringLiteral("ok") : QStringLiteral("ng"),
                                          QString::number(u.collect_time - start_time),
                                          QString::number(u.calculate_time / 1000.0, 'g', 6)});
    }
    qInfo().noquote() << frame;
}
