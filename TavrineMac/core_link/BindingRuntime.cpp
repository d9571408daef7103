#include "BindingRuntime.h"

#include <cstdio>
#include <cstdlib>
#include <limits>

namespace uniffi {

void fatalError(const QString &message)
{
    std::fprintf(stderr, "Fatal error: %s\n", message.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

OwnedRustBuffer &OwnedRustBuffer::operator=(OwnedRustBuffer &&other) noexcept
{
    if (this != &other) {
        OwnedRustBuffer discarded(std::exchange(m_buffer, std::exchange(other.m_buffer, RustBuffer{})));
    }
    return *this;
}

OwnedRustBuffer::~OwnedRustBuffer()
{
    // A buffer without data holds no allocation of the library's.
    if (m_buffer.data) {
        freeRustBuffer(m_buffer);
    }
}

QByteArrayView OwnedRustBuffer::bytes() const
{
    if (!m_buffer.data) {
        return {};
    }
    if (m_buffer.len > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
        throw UniffiInternalError(UniffiInternalError::Case::bufferOverflow);
    }
    return QByteArrayView(m_buffer.data, static_cast<qsizetype>(m_buffer.len));
}

namespace {

enum class ContractState
{
    ok,
    versionMismatch,
    checksumMismatch
};

using ChecksumFunction = uint16_t (*TavrineCoreFunctions::*)();

struct ExpectedChecksum
{
    ChecksumFunction function;
    uint16_t value;
};

#define TAVRINE_CHECKSUM(operation, expected)                                                                          \
    ExpectedChecksum{&TavrineCoreFunctions::uniffi_tavrine_core_checksum_##operation, expected},

// In the order in which they are checked.
const ExpectedChecksum expectedChecksums[] = {TAVRINE_CORE_CHECKSUMS(TAVRINE_CHECKSUM)};

#undef TAVRINE_CHECKSUM

ContractState checkContract()
{
    const TavrineCoreFunctions &functions = tavrineCoreFunctions();
    if (functions.ffi_tavrine_core_uniffi_contract_version() != expectedContractVersion) {
        return ContractState::versionMismatch;
    }
    for (const ExpectedChecksum &checksum : expectedChecksums) {
        if ((functions.*checksum.function)() != checksum.value) {
            return ContractState::checksumMismatch;
        }
    }
    return ContractState::ok;
}

} // namespace

void ensureContract()
{
    // A function-local static is initialised once, also when first calls race.
    static const ContractState state = checkContract();
    switch (state) {
    case ContractState::ok:
        return;
    case ContractState::versionMismatch:
        fatalError(QStringLiteral("UniFFI contract version mismatch: try cleaning and rebuilding your project"));
    case ContractState::checksumMismatch:
        fatalError(QStringLiteral("UniFFI API checksum mismatch: try cleaning and rebuilding your project"));
    }
}

void checkCallStatus(RustCallStatus &status, ErrorLift liftError)
{
    switch (status.code) {
    case 0:
        return;
    case 1: {
        OwnedRustBuffer errorBuffer(std::exchange(status.errorBuf, RustBuffer{}));
        if (!liftError) {
            throw UniffiInternalError(UniffiInternalError::Case::unexpectedRustCallError);
        }
        liftError(std::move(errorBuffer));
        // An error lift always throws; reaching here means it did not.
        throw UniffiInternalError(UniffiInternalError::Case::unexpectedRustCallError);
    }
    case 2: {
        OwnedRustBuffer errorBuffer(std::exchange(status.errorBuf, RustBuffer{}));
        if (errorBuffer.get().len == 0) {
            throw UniffiInternalError::rustPanic(QStringLiteral("Rust panic"));
        }
        throw UniffiInternalError::rustPanic(decodeUtf8Repaired(errorBuffer.bytes()));
    }
    case 3:
        fatalError(QStringLiteral("Cancellation not supported yet"));
    default: {
        OwnedRustBuffer errorBuffer(std::exchange(status.errorBuf, RustBuffer{}));
        throw UniffiInternalError(UniffiInternalError::Case::unexpectedRustCallStatusCode);
    }
    }
}

OwnedRustBuffer bufferFromBytes(QByteArrayView bytes)
{
    if (bytes.size() > std::numeric_limits<int32_t>::max()) {
        fatalError(QStringLiteral("A value of %1 bytes is too long for the core library").arg(bytes.size()));
    }
    const ForeignBytes foreignBytes{static_cast<int32_t>(bytes.size()),
                                    reinterpret_cast<const uint8_t *>(bytes.data())};
    try {
        return rustCall(nullptr, [&](RustCallStatus *status) {
            return tavrineCoreFunctions().ffi_tavrine_core_rustbuffer_from_bytes(foreignBytes, status);
        });
    } catch (const std::exception &error) {
        fatalError(QStringLiteral("Could not create a core buffer: %1").arg(QString::fromUtf8(error.what())));
    }
}

void freeRustBuffer(RustBuffer buffer)
{
    try {
        rustCall(nullptr, [&](RustCallStatus *status) {
            tavrineCoreFunctions().ffi_tavrine_core_rustbuffer_free(buffer, status);
        });
    } catch (const std::exception &error) {
        fatalError(QStringLiteral("Could not free a core buffer: %1").arg(QString::fromUtf8(error.what())));
    }
}

QString decodeUtf8Repaired(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    const auto byteAt = [&](qsizetype index) {
        return static_cast<uint8_t>(bytes[index]);
    };
    qsizetype index = 0;
    while (index < bytes.size()) {
        const uint8_t lead = byteAt(index);
        if (lead < 0x80) {
            text.append(QChar(lead));
            ++index;
            continue;
        }
        // Well-formed sequences: the length, and the range of the second byte (the others are 80..BF).
        int length = 0;
        uint8_t secondLow = 0x80;
        uint8_t secondHigh = 0xbf;
        char32_t codePoint = 0;
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
            codePoint = lead & 0x1f;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            codePoint = lead & 0x0f;
            if (lead == 0xe0) {
                secondLow = 0xa0;
            } else if (lead == 0xed) {
                secondHigh = 0x9f;
            }
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            codePoint = lead & 0x07;
            if (lead == 0xf0) {
                secondLow = 0x90;
            } else if (lead == 0xf4) {
                secondHigh = 0x8f;
            }
        }
        qsizetype next = index + 1;
        int accepted = 1;
        while (length != 0 && accepted < length && next < bytes.size()) {
            const uint8_t continuation = byteAt(next);
            const uint8_t low = accepted == 1 ? secondLow : 0x80;
            const uint8_t high = accepted == 1 ? secondHigh : 0xbf;
            if (continuation < low || continuation > high) {
                break;
            }
            codePoint = (codePoint << 6) | (continuation & 0x3f);
            ++accepted;
            ++next;
        }
        if (length != 0 && accepted == length) {
            text.append(QString::fromUcs4(&codePoint, 1));
        } else {
            text.append(QChar(QChar::ReplacementCharacter));
        }
        index = next;
    }
    return text;
}

QString FfiConverterString::lift(OwnedRustBuffer buffer)
{
    return decodeUtf8Repaired(buffer.bytes());
}

OwnedRustBuffer FfiConverterString::lower(const QString &text)
{
    return bufferFromBytes(text.toUtf8());
}

int32_t readEnumTag(ByteReader &reader, int32_t caseCount)
{
    const int32_t tag = reader.readInt32();
    if (tag < 1 || tag > caseCount) {
        throw UniffiInternalError(UniffiInternalError::Case::unexpectedEnumCase);
    }
    return tag;
}

uint64_t cloneObjectHandle(CloneFunction clone, uint64_t handle)
{
    try {
        return rustCall(nullptr,
                        [&](RustCallStatus *status) { return (tavrineCoreFunctions().*clone)(handle, status); });
    } catch (const std::exception &error) {
        fatalError(QStringLiteral("Could not clone a core object handle: %1").arg(QString::fromUtf8(error.what())));
    }
}

void freeObjectHandle(FreeFunction free, uint64_t handle)
{
    try {
        rustCall(nullptr, [&](RustCallStatus *status) { (tavrineCoreFunctions().*free)(handle, status); });
    } catch (const std::exception &error) {
        fatalError(QStringLiteral("Could not free a core object handle: %1").arg(QString::fromUtf8(error.what())));
    }
}

} // namespace uniffi
