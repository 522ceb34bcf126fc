#include "inspection/roiinterface.h"

RoiInterface::~RoiInterface() = default;
