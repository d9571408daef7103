#include "ByteReader.h"

#include "BindingRuntime.h"
#include "UniffiInternalError.h"

#include <QtEndian>

void ByteReader::requireAvailable(qsizetype count) const
{
    if (count < 0 || count > m_bytes.size() - m_offset) {
        throw UniffiInternalError(UniffiInternalError::Case::bufferOverflow);
    }
}

int32_t ByteReader::readInt32()
{
    requireAvailable(4);
    const auto value = qFromBigEndian<int32_t>(m_bytes.data() + m_offset);
    m_offset += 4;
    return value;
}

uint8_t ByteReader::readUInt8()
{
    requireAvailable(1);
    return static_cast<uint8_t>(m_bytes[m_offset++]);
}

uint64_t ByteReader::readUInt64()
{
    requireAvailable(8);
    const auto value = qFromBigEndian<uint64_t>(m_bytes.data() + m_offset);
    m_offset += 8;
    return value;
}

QByteArrayView ByteReader::readBytes(qsizetype count)
{
    requireAvailable(count);
    const QByteArrayView bytes = m_bytes.sliced(m_offset, count);
    m_offset += count;
    return bytes;
}

QString ByteReader::readString()
{
    const qsizetype start = m_offset;
    const int32_t length = readInt32();
    // A negative count cannot be read; it is reported like a count that runs past the end.
    if (length < 0 || length > m_bytes.size() - m_offset) {
        m_offset = start;
        throw UniffiInternalError(UniffiInternalError::Case::bufferOverflow);
    }
    return uniffi::decodeUtf8Repaired(readBytes(length));
}
