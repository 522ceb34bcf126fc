#pragma once
// What a region edit from the operator application may bring: one region
// object whose shape ("roi_type") and detector ("func_type") this program
// knows, whose geometry ("roi_infos") is whole numbers in its shape's form,
// and whose "detect_index" is a step number (0 or more).
//
// Stored regions are read leniently (a value that is not a whole number
// reads as 0, coordinates are clamped into the frame, an unknown shape is
// kept as read); an edit is not: what would be read as something other than
// what was sent is refused, so that an edit never silently inspects less
// than the operator drew.
#include <QJsonObject>
#include <QString>

class RegionForm {
public:
    // Why the region object cannot be taken from an edit, naming the region
    // (detection and region number as sent) and the key; empty when it can.
    static QString editFault(const QJsonObject& region);
    // The first check of editFault alone: why "detect_index" is not a step
    // number (a whole number, 0 or more); empty when it is.
    static QString stepNumberFault(const QJsonObject& region);
};
