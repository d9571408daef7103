#pragma once

#include "AndroidDevice.h"
#include "TrustedDeviceRecord.h"

#include <QList>

#include <optional>

// The adb device of a trusted phone: the one with its USB serial when it has one (an empty serial included); of
// several phones that share that serial, the only one whose name (AndroidDevice::name) equals the record's name
// ignoring case. A record without a serial: the only device whose name equals its name ignoring case.
std::optional<AndroidDevice> matchedUSBDevice(const TrustedDeviceRecord &record, const QList<AndroidDevice> &devices);
