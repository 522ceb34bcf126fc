#pragma once
// What machine IO reads and writes of the process's work information and
// camera group, in one place: the stored input and output bits, the running
// flag and module state, the warning fields, the registrations it makes, the
// group record and the network card, and the liveness of the main loop.
//
// Every work-block access goes through the work information's own mutex.
// Callable from any thread.
#include "foundation/foundationservices.h"
#include "foundation/zrc_deviceinfos.h"

#include <QString>

#include <optional>

namespace ioworkinfo {

// ---- identity and group ----
QString ownDeviceId();
bool isMainCamera();
ZRC_DeviceInfos deviceInfo();
void setDeviceInfo(const ZRC_DeviceInfos& info);
// The usable network card, when one is known.
std::optional<DeviceNetInfo_Detail> netCard();
bool recheckDeviceInfo();

// ---- work state ----
// Work is started (outputs sent, triggers raised).
bool isRunning();
// Bit 0: IO module connected; bit 1: camera-pair link connected.
int moduleState();
// The compact text of the camera group.
QString groupText();
int inputBits();
int outputBits();
// Stores the new input bits; returns the ones stored before.
int exchangeInputBits(int bits);
// Sets (level nonzero) or clears output bit `index` while the module state
// is 3; in any other state every stored output is cleared. Returns the
// stored output bits.
int storeOutputBit(int index, int level);
// A raised trigger clears the warning shown to the operator.
void clearWarningTip();
void setNoInputWarning(bool on);
bool noInputWarning();

// ---- liveness of the main loop ----
// The main loop counts as alive while it has written its heartbeat tick
// within the last 10 s, measured on the monotonic clock from its last write
// (zrc_workinformation_manager.h): neither the wrap of the tick, nor a step
// of the wall clock, nor a long gap between two looks makes a stalled main
// loop look alive.
bool mainLoopAlive();

// ---- registrations made by the protocol ----
// An app that announced itself: its entry, keyed by address, gets the time.
void registerApp(const QString& address, qint64 timeMs);
// When `id` is a registered sub camera, its entry becomes {id, address, -1};
// returns whether it was registered.
bool rebindSubDevice(const QString& id, const QString& address);
// A new camera group from a modify-cells message: the registered sub cameras
// become those of `group`, the stored input and output bits are cleared and
// the group text becomes `text`.
void applyNewGroup(const ZRC_DeviceInfos& group, const QString& text);
bool isSearching();
void storeSearchAnswer(const QString& address, const QString& text);

// ---- operator and system record ----
// Where system records go: the work information's record writer (the hub
// registers itself there); null: nothing is recorded.
void setRecordWriter(OperationRecord_Interface* writer);
void insertSystemRecord(const QString& text);

}  // namespace ioworkinfo
