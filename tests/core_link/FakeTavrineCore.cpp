#include "FakeTavrineCore.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

namespace {

FakeTavrineCore &core()
{
    return FakeTavrineCore::instance();
}

// Child scenarios read the trace to see which call was the last before the process stopped.
void trace(const QString &function)
{
    if (qEnvironmentVariableIsSet("TAVRINE_FAKE_CORE_TRACE")) {
        std::fprintf(stderr, "fake core: %s\n", qPrintable(function));
        std::fflush(stderr);
    }
}

void consumeHandle(uint64_t handle, const QString &function)
{
    if (core().liveHandles.erase(handle) == 0)
        core().misuse.append(function + QStringLiteral(": handle %1 is not live").arg(handle));
}

// Frees a buffer that the library handed out and gives its bytes; any other buffer is misuse.
QByteArray takeBuffer(RustBuffer buffer, const QString &function)
{
    if (!buffer.data)
        return QByteArray();
    if (core().liveBuffers.erase(buffer.data) == 0) {
        core().misuse.append(function + QStringLiteral(": a buffer that the library did not hand out or freed"));
        return QByteArray();
    }
    const QByteArray bytes(reinterpret_cast<const char *>(buffer.data), qsizetype(buffer.len));
    delete[] buffer.data;
    return bytes;
}

// Records a method or constructor call: takes over its argument buffers, consumes a method's handle and
// answers as scripted.
template <typename... Arguments> FakeTavrineCore::Answer record(const char *function, Arguments... arguments)
{
    const QString name = QString::fromLatin1(function);
    const QString prefix = QStringLiteral("uniffi_tavrine_core_fn_");
    const QString methodPrefix = prefix + QStringLiteral("method_");
    const bool method = name.startsWith(methodPrefix);
    const QString shortName = name.sliced((method ? methodPrefix : prefix).size());
    trace(shortName);
    QStringList buffers, numbers;
    RustCallStatus *status = nullptr;
    bool handleTaken = !method;
    const auto take = [&](auto argument) {
        using Argument = decltype(argument);
        if constexpr (std::is_same_v<Argument, RustBuffer>) {
            buffers.append(QString::fromUtf8(takeBuffer(argument, shortName)));
        } else if constexpr (std::is_same_v<Argument, RustCallStatus *>) {
            status = argument;
        } else if constexpr (std::is_integral_v<Argument>) {
            if (!std::exchange(handleTaken, true))
                consumeHandle(uint64_t(argument), shortName);
            else
                numbers.append(QString::number(int64_t(argument)));
        }
    };
    (take(arguments), ...);
    core().calls.append((shortName + u' ' + buffers.join(u'|') + u' ' + numbers.join(u'|')).trimmed());
    const FakeTavrineCore::Answer answer = core().answers.take(shortName);
    status->code = answer.code;
    if (answer.errorBuffer)
        status->errorBuf = core().makeBuffer(*answer.errorBuffer);
    return answer;
}

template <typename Result> Result answered(const FakeTavrineCore::Answer &answer)
{
    if constexpr (std::is_same_v<Result, RustBuffer>)
        return answer.result ? core().makeBuffer(*answer.result) : RustBuffer{};
    else if constexpr (std::is_same_v<Result, int8_t>)
        return answer.flag;
    else if constexpr (std::is_same_v<Result, uint64_t>) // a constructor's new object
        return answer.code == 0 ? core().newHandle() : 0;
}

uint64_t cloneHandle(uint64_t handle, RustCallStatus *status)
{
    trace(QStringLiteral("clone"));
    if (core().failNextClone) {
        status->code = *std::exchange(core().failNextClone, std::nullopt);
        return 0;
    }
    if (!core().liveHandles.count(handle))
        core().misuse.append(QStringLiteral("clone of handle %1, which is not live").arg(handle));
    return core().newHandle();
}

void freeHandle(uint64_t handle, RustCallStatus *)
{
    trace(QStringLiteral("free"));
    consumeHandle(handle, QStringLiteral("free"));
}

} // namespace

FakeTavrineCore &FakeTavrineCore::instance()
{
    static FakeTavrineCore fake;
    return fake;
}

void FakeTavrineCore::resetCalls()
{
    calls.clear();
    misuse.clear();
    answers.clear();
    failNextBufferCreation.reset();
    failNextClone.reset();
}

uint64_t FakeTavrineCore::newHandle()
{
    liveHandles.insert(nextHandle);
    return nextHandle++;
}

RustBuffer FakeTavrineCore::makeBuffer(const Buffer &buffer)
{
    RustBuffer result{};
    result.len = uint64_t(buffer.bytes.size());
    if (buffer.nullData)
        return result;
    // Always allocate, also for no bytes, so that every buffer handed out can be tracked.
    result.data = new uint8_t[std::max<qsizetype>(buffer.bytes.size(), 1)];
    result.capacity = std::max<uint64_t>(result.len, 1);
    std::memcpy(result.data, buffer.bytes.constData(), size_t(buffer.bytes.size()));
    liveBuffers.insert(result.data);
    return result;
}

TavrineCoreFunctions FakeTavrineCore::functions()
{
    TavrineCoreFunctions f;
    f.ffi_tavrine_core_uniffi_contract_version = [] {
        trace("contract_version");
        return core().contractVersion;
    };
#define FAKE_CHECKSUM(operation, expected)                                                                             \
    f.uniffi_tavrine_core_checksum_##operation = []() -> uint16_t {                                                    \
        trace("checksum_" #operation);                                                                                 \
        return core().checksumOverrides.value(QStringLiteral(#operation), expected);                                   \
    };
    TAVRINE_CORE_CHECKSUMS(FAKE_CHECKSUM)
#undef FAKE_CHECKSUM

    // Each generic lambda takes the argument types of the pointer it is assigned to, and answers with the
    // result type of the real function.
#define FAKE_CALL(function)                                                                                            \
    f.function = [](auto... arguments) {                                                                               \
        return answered<decltype(::function(arguments...))>(record(#function, arguments...));                          \
    };
    TAVRINE_CORE_CALL_FUNCTIONS(FAKE_CALL)
#undef FAKE_CALL
    // Buffers and handles are tracked rather than recorded as calls.
    f.ffi_tavrine_core_rustbuffer_from_bytes = [](ForeignBytes bytes, RustCallStatus *status) {
        trace("rustbuffer_from_bytes");
        if (core().failNextBufferCreation) {
            status->code = *std::exchange(core().failNextBufferCreation, std::nullopt);
            return RustBuffer{};
        }
        return core().makeBuffer({QByteArray(reinterpret_cast<const char *>(bytes.data), bytes.len)});
    };
    f.ffi_tavrine_core_rustbuffer_free = [](RustBuffer buffer, RustCallStatus *) {
        trace(QStringLiteral("rustbuffer_free"));
        takeBuffer(buffer, QStringLiteral("rustbuffer_free"));
    };
    f.uniffi_tavrine_core_fn_clone_transferhost = f.uniffi_tavrine_core_fn_clone_transferclient = cloneHandle;
    f.uniffi_tavrine_core_fn_free_transferhost = f.uniffi_tavrine_core_fn_free_transferclient = freeHandle;
    return f;
}
