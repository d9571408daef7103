#include "BindingRuntime.h"

#include "Utf8Repair.h"

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
    return QString::fromStdString(tavrine::validUtf8(std::string_view(bytes.data(), size_t(bytes.size()))));
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
