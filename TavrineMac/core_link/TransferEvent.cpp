#include "TransferEvent.h"

size_t qHash(const TransferEvent &event, size_t seed)
{
    return qHashMulti(seed, event.kind, event.direction, event.transferId, event.fileName, event.transferredBytes,
                      event.totalBytes, event.peerName, event.peerId, event.message);
}

TransferEventKind FfiConverterTypeTransferEventKind::read(ByteReader &reader)
{
    return static_cast<TransferEventKind>(uniffi::readEnumTag(reader, 12));
}

void FfiConverterTypeTransferEventKind::write(TransferEventKind kind, ByteWriter &writer)
{
    writer.writeInt32(static_cast<int32_t>(kind));
}

TransferDirection FfiConverterTypeTransferDirection::read(ByteReader &reader)
{
    return static_cast<TransferDirection>(uniffi::readEnumTag(reader, 3));
}

void FfiConverterTypeTransferDirection::write(TransferDirection direction, ByteWriter &writer)
{
    writer.writeInt32(static_cast<int32_t>(direction));
}

TransferEvent FfiConverterTypeTransferEvent::read(ByteReader &reader)
{
    TransferEvent event;
    event.kind = FfiConverterTypeTransferEventKind::read(reader);
    event.direction = FfiConverterTypeTransferDirection::read(reader);
    event.transferId = reader.readString();
    event.fileName = reader.readString();
    event.transferredBytes = reader.readUInt64();
    event.totalBytes = reader.readUInt64();
    event.peerName = reader.readString();
    event.peerId = reader.readString();
    event.message = reader.readString();
    return event;
}

void FfiConverterTypeTransferEvent::write(const TransferEvent &event, ByteWriter &writer)
{
    FfiConverterTypeTransferEventKind::write(event.kind, writer);
    FfiConverterTypeTransferDirection::write(event.direction, writer);
    writer.writeString(event.transferId);
    writer.writeString(event.fileName);
    writer.writeUInt64(event.transferredBytes);
    writer.writeUInt64(event.totalBytes);
    writer.writeString(event.peerName);
    writer.writeString(event.peerId);
    writer.writeString(event.message);
}
