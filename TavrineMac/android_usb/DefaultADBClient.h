#pragma once

#include "ADBClient.h"

#include <memory>

// The application's adb stack: the located adb, a runner for application commands, one for listings and one for
// property reads, all without the environment that would send adb elsewhere, and the shared server controller. Nothing
// when no adb was found; the application then runs without adb.
std::shared_ptr<ADBClient> makeDefaultADBClient();
