#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>

// Builds the big-endian bytes of a compound value before it is handed to the core library.
class ByteWriter
{
public:
    void writeInt32(int32_t value);
    void writeUInt64(uint64_t value);
    void writeUInt8(uint8_t value) { m_bytes.append(static_cast<char>(value)); }
    void writeBytes(QByteArrayView bytes) { m_bytes.append(bytes); }
    // A signed 32-bit UTF-8 byte count followed by the bytes.
    void writeString(const QString &text);
    void writeBool(bool value) { writeUInt8(value ? 1 : 0); }

    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};
