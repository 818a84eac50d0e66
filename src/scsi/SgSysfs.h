#pragma once

#include "scsi/ScsiDevice.h"
#include "scsi/SgIo.h"

#include <string>
#include <vector>

// What sysfs tells about a SCSI device without opening it: its peripheral type, its
// address and its identification strings.
namespace tarnvel::scsi {

// `deviceDir`: the device's sysfs folder, such as "/sys/class/scsi_generic/sg3/device".
// Fills type, address (host, target, LUN) and vendor, product and revision of `entry`;
// false when the type cannot be read.
bool entryFromSysfs(SgIo& io, const std::string& deviceDir, ScsiDeviceEntry& entry);

// The numbers N of the names "<prefix>N" in a sysfs folder, ascending.
std::vector<int> numberedNames(SgIo& io, const char* folder, const char* prefix);

} // namespace tarnvel::scsi
