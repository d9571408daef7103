#pragma once

#include "ByteReader.h"
#include "ByteWriter.h"
#include "TavrineCoreFunctions.h"
#include "UniffiInternalError.h"

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <exception>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

// How every call into the core library is made: the contract check, the call status, buffer ownership
// and the converters of the primitive kinds.
namespace uniffi {

inline constexpr uint32_t expectedContractVersion = TAVRINE_CORE_CONTRACT_VERSION;

// Stops the process: the core library broke its contract, or the binding was misused.
[[noreturn]] void fatalError(const QString &message);

// A buffer the core library returned. It belongs to us until it is freed through the library, which
// happens exactly once, when this object goes away, unless ownership is handed back with release().
class OwnedRustBuffer
{
public:
    OwnedRustBuffer() = default;
    explicit OwnedRustBuffer(RustBuffer buffer) noexcept : m_buffer(buffer) {}
    OwnedRustBuffer(OwnedRustBuffer &&other) noexcept : m_buffer(std::exchange(other.m_buffer, RustBuffer{})) {}
    OwnedRustBuffer &operator=(OwnedRustBuffer &&other) noexcept;
    OwnedRustBuffer(const OwnedRustBuffer &) = delete;
    OwnedRustBuffer &operator=(const OwnedRustBuffer &) = delete;
    ~OwnedRustBuffer();

    const RustBuffer &get() const { return m_buffer; }
    // The `len` bytes in use; empty when `data` is null. Throws bufferOverflow for a length beyond what a
    // buffer may hold.
    QByteArrayView bytes() const;
    // Hands the buffer on (to the library, as a call argument); this object no longer frees it.
    RustBuffer release() noexcept { return std::exchange(m_buffer, RustBuffer{}); }

private:
    RustBuffer m_buffer{};
};

// Runs the once-per-process contract check (version and checksums) and stops the process on a mismatch.
void ensureContract();

// Lifts the error value of a failed call from its buffer and throws it.
using ErrorLift = void (*)(OwnedRustBuffer errorBuffer);

// Turns a call status into nothing (success) or a thrown error. Buffers in the status are freed.
void checkCallStatus(RustCallStatus &status, ErrorLift liftError);

// Makes one core call with a fresh zeroed status and checks it. A returned RustBuffer comes back owned,
// so it is freed on every path.
template <typename Call> auto rustCall(ErrorLift liftError, Call &&call)
{
    ensureContract();
    RustCallStatus status{};
    using Result = std::invoke_result_t<Call, RustCallStatus *>;
    if constexpr (std::is_void_v<Result>) {
        std::forward<Call>(call)(&status);
        checkCallStatus(status, liftError);
    } else if constexpr (std::is_same_v<Result, RustBuffer>) {
        OwnedRustBuffer result(std::forward<Call>(call)(&status));
        checkCallStatus(status, liftError);
        return result;
    } else {
        Result result = std::forward<Call>(call)(&status);
        checkCallStatus(status, liftError);
        return result;
    }
}

// A copy of `bytes` in a new library-owned buffer.
OwnedRustBuffer bufferFromBytes(QByteArrayView bytes);
void freeRustBuffer(RustBuffer buffer);

// Runs an operation that the library declares never to fail; any error is a broken contract.
template <typename Body> auto expectNoError(Body &&body)
{
    try {
        return std::forward<Body>(body)();
    } catch (const std::exception &error) {
        fatalError(
            QStringLiteral("The core library failed where it cannot fail: %1").arg(QString::fromUtf8(error.what())));
    }
}

// Decodes UTF-8, replacing each maximal ill-formed subpart with one U+FFFD; nothing is rejected.
QString decodeUtf8Repaired(QByteArrayView bytes);

// Text as a whole argument or result (bare UTF-8), or nested in a compound value (with a 32-bit count).
struct FfiConverterString
{
    using Value = QString;
    static QString lift(OwnedRustBuffer buffer);
    static OwnedRustBuffer lower(const QString &text);
    static QString read(ByteReader &reader) { return reader.readString(); }
    static void write(const QString &text, ByteWriter &writer) { writer.writeString(text); }
};

// Values that cross as plain numbers.
struct FfiConverterBool
{
    using Value = bool;
    static bool lift(int8_t value) { return value != 0; }
    static int8_t lower(bool value) { return value ? 1 : 0; }
    static bool read(ByteReader &reader) { return reader.readBool(); }
    static void write(bool value, ByteWriter &writer) { writer.writeBool(value); }
};

// Compound values, which travel as a whole buffer.
template <typename Derived, typename T> struct FfiConverterRustBuffer
{
    using Value = T;

    static T lift(OwnedRustBuffer buffer)
    {
        if (!buffer.get().data) {
            throw UniffiInternalError(UniffiInternalError::Case::bufferOverflow);
        }
        ByteReader reader(buffer.bytes());
        T value = Derived::read(reader);
        if (reader.offset() < reader.size()) {
            throw UniffiInternalError(UniffiInternalError::Case::incompleteData);
        }
        return value;
    }

    static OwnedRustBuffer lower(const T &value)
    {
        ByteWriter writer;
        Derived::write(value, writer);
        return bufferFromBytes(writer.bytes());
    }
};

template <typename Converter>
struct FfiConverterOptional
    : FfiConverterRustBuffer<FfiConverterOptional<Converter>, std::optional<typename Converter::Value>>
{
    using Value = std::optional<typename Converter::Value>;

    static Value read(ByteReader &reader)
    {
        switch (reader.readUInt8()) {
        case 0:
            return std::nullopt;
        case 1:
            return Converter::read(reader);
        default:
            throw UniffiInternalError(UniffiInternalError::Case::unexpectedOptionalTag);
        }
    }

    static void write(const Value &value, ByteWriter &writer)
    {
        if (!value) {
            writer.writeUInt8(0);
            return;
        }
        writer.writeUInt8(1);
        Converter::write(*value, writer);
    }
};

// Reads an enumeration's 32-bit tag, which counts the cases from 1.
int32_t readEnumTag(ByteReader &reader, int32_t caseCount);

// Method calls on core objects: the handle is cloned for each call (the call consumes the clone), and
// the arguments are lowered in order after it.
using CloneFunction = uint64_t (*TavrineCoreFunctions::*)(uint64_t, RustCallStatus *);
using FreeFunction = void (*TavrineCoreFunctions::*)(uint64_t, RustCallStatus *);

uint64_t cloneObjectHandle(CloneFunction clone, uint64_t handle);
void freeObjectHandle(FreeFunction free, uint64_t handle);

inline OwnedRustBuffer lowerArgument(const QString &text)
{
    return FfiConverterString::lower(text);
}
inline int8_t lowerArgument(bool value)
{
    return FfiConverterBool::lower(value);
}
inline int32_t lowerArgument(int32_t value)
{
    return value;
}
inline uint64_t lowerArgument(uint64_t value)
{
    return value;
}

inline RustBuffer passArgument(OwnedRustBuffer &buffer)
{
    return buffer.release();
}
template <typename Number> Number passArgument(Number value)
{
    return value;
}

// Lowers the arguments in their declared order (braced initialisation guarantees it), then makes the call.
template <typename Invoke, typename... Arguments>
auto callLowered(ErrorLift liftError, Invoke invoke, const Arguments &...arguments)
{
    std::tuple lowered{lowerArgument(arguments)...};
    return std::apply(
        [&](auto &...loweredArguments) {
            return rustCall(liftError,
                            [&](RustCallStatus *status) { return invoke(status, passArgument(loweredArguments)...); });
        },
        lowered);
}

template <typename Function, typename... Arguments>
auto callConstructor(ErrorLift liftError, Function function, const Arguments &...arguments)
{
    ensureContract();
    return callLowered(
        liftError,
        [function](RustCallStatus *status, auto... passed) {
            return (tavrineCoreFunctions().*function)(passed..., status);
        },
        arguments...);
}

template <typename Function, typename... Arguments>
auto callMethod(ErrorLift liftError, CloneFunction clone, Function function, uint64_t handle,
                const Arguments &...arguments)
{
    const uint64_t clonedHandle = cloneObjectHandle(clone, handle);
    return callLowered(
        liftError,
        [function, clonedHandle](RustCallStatus *status, auto... passed) {
            return (tavrineCoreFunctions().*function)(clonedHandle, passed..., status);
        },
        arguments...);
}

} // namespace uniffi
