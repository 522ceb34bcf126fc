#pragma once
// The operator texts that describe how a new region set differs from the
// stored one: one line per added, removed or changed region, each starting
// with the camera and step ("1号相机,第1检测"). The camera facade writes
// each line as an "operate" record and applies the new set only when there
// is at least one line.
//
// Regions are paired by their position in the step's list, not by their
// region index. Texts go through Qt's translation (context QObject).
#include "inspection/roisteps.h"

#include <QStringList>

// Compares steps 0 to stepCount - 1 of the two sets; a step that either set
// lacks counts as empty there. cameraNo is the camera's number from 0 (the
// texts show it from 1). Neither set is changed. A region without a
// detector (a "func_type" the registry does not know) is described by its
// stored "func_type" and counts as changed when its "func_params" differ.
QStringList describeRoiChanges(const RoiSteps& oldSteps, const RoiSteps& newSteps, int cameraNo, int stepCount);
