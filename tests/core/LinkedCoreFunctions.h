#pragma once

#include "TavrineCoreFunctions.h"

// The binding's function table filled from the core library that the test executable links.
TavrineCoreFunctions linkedCoreFunctions();
