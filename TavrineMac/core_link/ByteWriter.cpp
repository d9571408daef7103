#include "ByteWriter.h"

#include "BindingRuntime.h"

#include <QtEndian>

#include <limits>

void ByteWriter::writeInt32(int32_t value)
{
    char bytes[4];
    qToBigEndian(value, bytes);
    m_bytes.append(bytes, sizeof bytes);
}

void ByteWriter::writeUInt64(uint64_t value)
{
    char bytes[8];
    qToBigEndian(value, bytes);
    m_bytes.append(bytes, sizeof bytes);
}

void ByteWriter::writeString(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() > std::numeric_limits<int32_t>::max()) {
        uniffi::fatalError(QStringLiteral("A text of %1 bytes is too long for the core library").arg(utf8.size()));
    }
    writeInt32(static_cast<int32_t>(utf8.size()));
    writeBytes(utf8);
}
