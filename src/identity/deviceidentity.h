#pragma once
// The device id: a short text that stays the same across restarts of the
// same hardware, by which the camera is known to its group, the IO module and
// the operator application. Both programs derive it the same way:
// the processor serial from /proc/cpuinfo, else the last group of the UUID of
// the last ext4 file system that blkid lists, else the epoch milliseconds.
//
// Runs on the calling thread and may block it for about one second (blkid).
#include <QString>

// The device id; never empty, no ";" and no "-". A fixed id configured for
// simulation (several cameras on one machine) replaces the derivation.
QString getlocal_deviceid();

// The UUID of the last ext4 file system that blkid lists, or the empty text.
QString found_diskuuid_by_blkid();

// The UUID from "/etc/assign_uuid", else from the last ext4 "UUID=" line of
// "/etc/fstab", or the empty text. Kept for boards without blkid.
QString found_diskuuid_by_etc_fstab();
