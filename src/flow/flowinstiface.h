#pragma once
// The record through which every group, unit and part of the flow reaches
// this camera's identity and language, the IO frame, the application (the
// product interface) and the camera list. The flow manager fills it; groups
// copy it into their units, units into their parts.
//
// The two object links are weak: they never own their objects, and a user
// tests a link before each use (null means the object is gone). The camera
// list is an optional value with its own lock; copying the record copies the
// list under that lock.
#include "flow/product_interface.h"
#include "foundation/cvariant.h"
#include "foundation/foundationservices.h"
#include "io/frameio.h"

#include <QPointer>
#include <QString>


struct FlowInstIface {
    QString device_id;  // this camera's device id
    QString language = QStringLiteral("zh-CN");  // process language code
    QPointer<FrameIO> frame_io;  // the process IO frame, observed
    QPointer<Product_Interface> product_iface;  // the application, observed
    CVariant<CamDevices_Interface> cam_devices;  // the camera group, at most one value

    // The camera list, or an empty one when none is held.
    CamDevices_Interface getCamDevices() const { return cam_devices.getValue(); }
};
