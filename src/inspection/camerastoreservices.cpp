#include "inspection/camerastoreservices.h"

int32_t gDNum = 2;
int32_t gCamareIndex = 0;

QSqlDatabase paramDatabase()
{
    return QSqlDatabase::database(QLatin1String(kParamDbConnection), false);
}
