#pragma once
// What the camera parameter store reads of the inspection flow and the
// application hub beyond hubservices.h: the number of detection steps in
// use, the process-wide camera index and the hub's PARAM.db connection.
//
// The hub opens PARAM.db with the SQLite driver under the connection name
// "dbIn" before it creates the camera and closes it (if ever) after the
// camera is gone; the store never opens or closes it. All use is on the
// hub's thread, as Qt requires of a connection.
#include <QSqlDatabase>

#include <cstdint>

// Number of detection steps in use (1 to 4), set by the inspection flow.
// The parameter store grows its step list to at least this many when it
// loads, builds new region sets with exactly this many and compares them
// over steps 0 to gDNum - 1.
extern int32_t gDNum;

// Process-wide camera index: the parameter set's legacy load sets it to -1;
// the camera parameter store sets it from its row ("index") and writes it
// back on every save.
extern int32_t gCamareIndex;

// Name of the hub's connection to PARAM.db.
inline constexpr char kParamDbConnection[] = "dbIn";

// The hub's PARAM.db connection (not opened here; invalid when the hub has
// not added it).
QSqlDatabase paramDatabase();
