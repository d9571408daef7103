#pragma once

#include "TavrineCoreFunctions.h"

#include <QByteArray>
#include <QString>

// The binding's function table filled from the core library that the test executable links.
TavrineCoreFunctions linkedCoreFunctions();

// The same, except that a file name given to a send as rawFileName(bytes) reaches the library as those bytes,
// which need not be UTF-8: what a phone's file system may hold.
TavrineCoreFunctions linkedCoreFunctionsWithRawNames();
QString rawFileName(const QByteArray &bytes);
