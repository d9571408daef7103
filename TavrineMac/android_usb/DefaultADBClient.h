#pragma once

#include "ADBClient.h"

#include <memory>

// The application's adb stack: the located adb, one runner and the shared server controller. Nothing when no adb
// was found; the application then runs without adb.
std::shared_ptr<ADBClient> makeDefaultADBClient();
