#pragma once

#include <QString>

// The system symbol name of a file's icon, picked by the last dot-separated piece of its name: "photo", "film",
// "music.note", "doc.richtext", "archivebox", "shippingbox", or "doc" for every other name.
QString fileTypeSymbolName(const QString &fileName);
