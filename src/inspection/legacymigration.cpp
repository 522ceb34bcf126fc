#include "inspection/legacymigration.h"

#include <QDebug>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QStringList>

#include <cstdlib>

namespace {

// Reads the white-space separated numbers of a value one after another.
class NumberReader {
public:
    explicit NumberReader(const QString& value)
        : m_tokens(value.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
    {
    }

    // The next number; 0 once the value is used up or for a token that is
    // not a decimal integer.
    int next()
    {
        if (m_pos >= m_tokens.size())
            return 0;
        bool ok = false;
        const int n = m_tokens.at(m_pos++).toInt(&ok, 10);
        return ok ? n : 0;
    }

private:
    QStringList m_tokens;
    int m_pos = 0;
};

// The value of the row `name` of `table`; nullopt when there is no such
// row or the statement fails (a missing table).
std::optional<QString> rowValue(QSqlDatabase& db, const QString& table, const QString& name)
{
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("select value from %1 where name=?").arg(table)))
        return std::nullopt;
    q.addBindValue(name);
    if (!q.exec() || !q.next())
        return std::nullopt;
    return q.value(0).toString();
}

QJsonObject defaultRegion(int detect, int roiIndex)
{
    return QJsonObject{{QStringLiteral("detect_index"), detect},
                       {QStringLiteral("roi_index"), roiIndex},
                       {QStringLiteral("roi_type"), QStringLiteral("rect")},
                       {QStringLiteral("roi_infos"), QJsonArray{50, 50, 50, 50}},
                       {QStringLiteral("func_type"), QStringLiteral("flaw")},
                       {QStringLiteral("func_params"), QJsonArray{25, 100, 3}}};
}

}  // namespace

QJsonObject legacyRegionObject(const std::optional<QString>& value, int detect, int roiIndex)
{
    if (!value)
        return defaultRegion(detect, roiIndex);

    NumberReader in(*value);
    const int p1 = in.next();
    const int p2 = in.next();
    const int p3 = in.next();
    const int func = in.next();
    const int shape = in.next();
    in.next();  // not used by any shape
    const int points = in.next();

    QString roiType;
    QJsonArray infos;
    if (shape == 1) {
        const int x1 = in.next();
        const int y1 = in.next();
        const int x2 = in.next();
        const int y2 = in.next();
        // Widths in 64 bits: two int32 corners can lie further apart than
        // an int32 holds.
        roiType = QStringLiteral("rect");
        infos = QJsonArray{x1, y1, double(std::llabs(qint64(x2) - qint64(x1))),
                           double(std::llabs(qint64(y2) - qint64(y1)))};
    } else if (shape == 2 && points >= 1 && points <= kLegacyPolygonPointLimit) {
        roiType = QStringLiteral("polygon");
        for (int i = 0; i < points; ++i) {
            const int x = in.next();
            const int y = in.next();
            infos.append(QJsonArray{x, y});
        }
    } else if (shape == 4) {
        const int x = in.next();
        const int y = in.next();
        const uint32_t packed = static_cast<uint32_t>(in.next());
        roiType = QStringLiteral("circle");
        infos = QJsonArray{x, y, int(packed >> 16), int(packed & 0xFFFFu)};
    } else {
        return defaultRegion(detect, roiIndex);
    }

    QString funcType;
    QJsonArray params;
    const uint32_t p1bits = static_cast<uint32_t>(p1);
    switch (func) {
    case 0:
        funcType = QStringLiteral("flaw");
        params = QJsonArray{p2, p3, p1};
        break;
    case 1:
        funcType = QStringLiteral("spot");
        params = QJsonArray{p2, p3, int(p1bits & 0xFFu), int((p1bits >> 8) & 0xFFu)};
        break;
    case 2:
        funcType = QStringLiteral("ignore");
        break;
    case 3:
        funcType = QStringLiteral("location");
        params = QJsonArray{p2};
        break;
    default:
        funcType = QStringLiteral("flaw");
        params = QJsonArray{25, 100, 3};
        break;
    }

    return QJsonObject{{QStringLiteral("detect_index"), detect},
                       {QStringLiteral("roi_index"), roiIndex},
                       {QStringLiteral("roi_type"), roiType},
                       {QStringLiteral("roi_infos"), infos},
                       {QStringLiteral("func_type"), funcType},
                       {QStringLiteral("func_params"), params}};
}

QVector<QJsonArray> readLegacyRegions(QSqlDatabase db, int cameraNo)
{
    const QString table = QStringLiteral("cammer%1").arg(cameraNo);
    QVector<QJsonArray> steps;
    for (int d = 0; d < kLegacyStepCount; ++d) {
        QJsonArray step;
        const std::optional<QString> header = rowValue(db, table, QStringLiteral("detect%1").arg(d));
        const int count = header ? NumberReader(*header).next() : 0;
        if (static_cast<uint32_t>(count) >= kLegacyRegionLimit) {
            // Kept as an empty step so that the later steps stay in place.
            qInfo().noquote() << QStringLiteral("legacy %1 detect%2 claims %3 regions; step %4 is left empty")
                                     .arg(table)
                                     .arg(d)
                                     .arg(count)
                                     .arg(d + 1);
        } else {
            for (int r = 0; r < count; ++r)
                step.append(legacyRegionObject(rowValue(db, table, QStringLiteral("ROI%1-%2").arg(d).arg(r)), d, r));
        }
        steps.append(step);
    }
    return steps;
}

std::optional<int> legacyListElement(const QString& value, int position)
{
    const QStringList list = value.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    if (position < 0 || position >= list.size())
        return std::nullopt;
    bool ok = false;
    const int n = list.at(position).toInt(&ok, 10);
    return ok ? n : 0;
}

void readLegacyCameraParams(QSqlDatabase db, CameraImageParams& params, int32_t& cameraIndex)
{
    const QString table = QStringLiteral("sysparam");
    auto row = [&](const char* name) { return rowValue(db, table, QLatin1String(name)); };
    // Sets `field` from element `position` of the list when both exist.
    auto fromList = [](const std::optional<QString>& value, int position, auto setter) {
        if (!value)
            return;
        if (const std::optional<int> e = legacyListElement(*value, position))
            setter(*e);
    };

    if (const auto v = row("exposeTime")) {
        NumberReader in(*v);
        params.exposure = in.next();
        cameraIndex = in.next();
    }
    if (const auto v = row("adjustPlus"))
        params.gain = NumberReader(*v).next();
    if (const auto v = row("sharp"))
        params.sharpness = NumberReader(*v).next();
    if (const auto v = row("contrast"))
        params.trueness = NumberReader(*v).next();
    if (const auto v = row("numAllDetect"))
        params.gamma = NumberReader(*v).next();
    fromList(row("system2"), 16, [&](int e) { params.speedpick = e; });
    fromList(row("numFailDetect"), 3, [&](int e) { params.c_autolight = e != 0; });
    const auto system7 = row("system7");
    fromList(system7, 1, [&](int e) { params.c_colorrepmono = e != 0; });
    fromList(system7, 7, [&](int e) { params.c_stop_optimize = e != 0; });
    fromList(row("system5"), 11, [&](int e) { params.c_cameraouttrip = e != 0; });
    const auto system9 = row("system9");
    fromList(system9, 0, [&](int e) { params.c_filphorizontal = e != 0; });
    fromList(system9, 8, [&](int e) { params.c_flipverical = e != 0; });
}
