#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstdint>

// Reads big-endian values from bytes the core library returned, without copying them. A read that
// would pass the end throws UniffiInternalError::bufferOverflow and leaves the offset where it was.
class ByteReader
{
public:
    explicit ByteReader(QByteArrayView bytes) : m_bytes(bytes) {}

    int32_t readInt32();
    uint8_t readUInt8();
    uint64_t readUInt64();
    QByteArrayView readBytes(qsizetype count);

    // A signed 32-bit byte count followed by that many UTF-8 bytes; ill-formed UTF-8 becomes U+FFFD.
    QString readString();
    // One byte; anything but 0 is true.
    bool readBool() { return readUInt8() != 0; }

    qsizetype offset() const { return m_offset; }
    qsizetype size() const { return m_bytes.size(); }

private:
    void requireAvailable(qsizetype count) const;

    QByteArrayView m_bytes;
    qsizetype m_offset = 0;
};
