#include "foundation/foundationglobals.h"

QPointer<FrameIO> g_FrameIO;
QString g_BaseFont = QStringLiteral("wqy-microhei");
QMutex* pMutex = nullptr;
DiVuVarude* gpWin = nullptr;
