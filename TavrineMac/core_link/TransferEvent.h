#pragma once

#include "BindingRuntime.h"

#include <QHashFunctions>
#include <QString>

#include <cstdint>

enum class TransferEventKind : int32_t
{
    queued = 1,
    connecting,
    awaitingConfirmation,
    paired,
    sending,
    receiving,
    waitingForConnection,
    completed,
    paused,
    cancelled,
    failed,
    disconnected,
};

enum class TransferDirection : int32_t
{
    none = 1,
    sending,
    receiving,
};

inline size_t qHash(TransferEventKind kind, size_t seed = 0)
{
    return ::qHash(static_cast<int32_t>(kind), seed);
}

inline size_t qHash(TransferDirection direction, size_t seed = 0)
{
    return ::qHash(static_cast<int32_t>(direction), seed);
}

// One event of the core host or client.
struct TransferEvent
{
    TransferEventKind kind = TransferEventKind::queued;
    TransferDirection direction = TransferDirection::none;
    QString transferId;
    QString fileName;
    uint64_t transferredBytes = 0;
    uint64_t totalBytes = 0;
    QString peerName;
    QString peerId;
    QString message;

    bool operator==(const TransferEvent &) const = default;
};

size_t qHash(const TransferEvent &event, size_t seed = 0);

struct FfiConverterTypeTransferEventKind
    : uniffi::FfiConverterRustBuffer<FfiConverterTypeTransferEventKind, TransferEventKind>
{
    static TransferEventKind read(ByteReader &reader);
    static void write(TransferEventKind kind, ByteWriter &writer);
};

struct FfiConverterTypeTransferDirection
    : uniffi::FfiConverterRustBuffer<FfiConverterTypeTransferDirection, TransferDirection>
{
    static TransferDirection read(ByteReader &reader);
    static void write(TransferDirection direction, ByteWriter &writer);
};

struct FfiConverterTypeTransferEvent : uniffi::FfiConverterRustBuffer<FfiConverterTypeTransferEvent, TransferEvent>
{
    static TransferEvent read(ByteReader &reader);
    static void write(const TransferEvent &event, ByteWriter &writer);
};

using FfiConverterOptionTypeTransferEvent = uniffi::FfiConverterOptional<FfiConverterTypeTransferEvent>;
