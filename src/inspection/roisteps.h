#pragma once
// The regions of interest of a camera, one list per detection step.
//
// RoiSteps owns its regions (entry d holds the regions of step d, in run
// order); RoiHandles is a list of pointers into such a set, valid until the
// owner releases or replaces the step.
#include "inspection/roiinterface.h"

#include <QVector>

#include <memory>
#include <vector>

using RoiList = std::vector<std::unique_ptr<RoiInterface>>;
using RoiSteps = std::vector<RoiList>;
using RoiHandles = QVector<RoiInterface*>;
