#include "flow/product_interface.h"

#include "flow/flowmetatypes.h"

Product_Interface::Product_Interface(QObject* parent) : QObject(parent)
{
    registerFlowMetaTypes();
}

Product_Interface::~Product_Interface() = default;

void Product_Interface::Statistics_updateCycleRecord() {}
void Product_Interface::saveFailImage_OnNGNoStop(int) {}
void Product_Interface::PushMsg2APP_OnFinishUnitWork_RunResult(FlowUnit_Passport) {}
void Product_Interface::PushMsg2Subscriber_DetectInfoOnce(const QJsonObject&) {}
void Product_Interface::Statistics_insertOnceDetectend(QMap<QString, SCollect_Unit>) {}
void Product_Interface::WorkRX_RunTrain_Var(int) {}
