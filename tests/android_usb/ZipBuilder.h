#pragma once

#include "CompanionAPKArtifact.h"

#include <QByteArray>
#include <QList>
#include <QtEndian>

// A ZIP archive written byte by byte (stored entries whose data is their name, CRC left 0, which the inspector
// never reads), with the offsets that tests patch to break it in one place.
struct ZipArchive
{
    QByteArray bytes;
    QList<qsizetype> localHeaderOffsets;
    QList<qsizetype> centralEntryOffsets;
    qsizetype endRecordOffset = 0;

    void put16(qsizetype offset, quint16 value) { qToLittleEndian(value, bytes.data() + offset); }
    void put32(qsizetype offset, quint32 value) { qToLittleEndian(value, bytes.data() + offset); }
};

struct ZipOptions
{
    QByteArray beforeDirectory; // e.g. an APK Signing Block, written after the last entry's data
    QByteArray comment;
};

ZipArchive buildZip(const QList<QByteArray> &entryNames, const ZipOptions &options = {});

// An APK Signing Block with one v2 signature pair of placeholder bytes.
QByteArray apkSigningBlock();

// The companion's metadata for `package`: version "2.1.0" (code 210), signed by "CN=Tavrine".
CompanionAPKMetadata companionMetadata(const QByteArray &package);

// Writes a signed companion package and its metadata into `folder`; false when it cannot.
bool writeCompanionResources(const QString &folder);
