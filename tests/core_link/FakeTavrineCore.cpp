#include "FakeTavrineCore.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

FakeTavrineCore &FakeTavrineCore::instance()
{
    static FakeTavrineCore core;
    return core;
}

void FakeTavrineCore::resetCalls()
{
    calls.clear();
    foreignBytes.clear();
    freedHandles.clear();
    misuse.clear();
    m_answers.clear();
    failNextBufferCreation.reset();
    failNextClone.reset();
}

uint64_t FakeTavrineCore::newHandle()
{
    const uint64_t handle = m_nextHandle++;
    m_liveHandles.insert(handle);
    return handle;
}

RustBuffer FakeTavrineCore::makeBuffer(const Buffer &buffer)
{
    RustBuffer result{};
    result.len = uint64_t(buffer.bytes.size());
    if (buffer.nullData) {
        return result;
    }
    // Always allocate, also for no bytes, so that every buffer handed out can be tracked.
    result.data = new uint8_t[std::max<qsizetype>(buffer.bytes.size(), 1)];
    result.capacity = std::max<uint64_t>(result.len, 1);
    std::memcpy(result.data, buffer.bytes.constData(), size_t(buffer.bytes.size()));
    m_liveBuffers.insert(result.data);
    return result;
}

QByteArray FakeTavrineCore::takeBuffer(RustBuffer buffer, const QString &function)
{
    if (!buffer.data) {
        return QByteArray();
    }
    if (!m_liveBuffers.count(buffer.data)) {
        misuse.append(function + QStringLiteral(": argument buffer the library did not create"));
        return QByteArray();
    }
    const QByteArray bytes(reinterpret_cast<const char *>(buffer.data), qsizetype(buffer.len));
    freeBuffer(buffer);
    return bytes;
}

void FakeTavrineCore::freeBuffer(RustBuffer buffer)
{
    if (!buffer.data) {
        return;
    }
    if (m_liveBuffers.erase(buffer.data) == 0) {
        misuse.append(QStringLiteral("free of a buffer that is not live"));
        return;
    }
    delete[] buffer.data;
}

FakeTavrineCore::Answer FakeTavrineCore::takeAnswer(const QString &function)
{
    return m_answers.take(function);
}

void FakeTavrineCore::applyStatus(const Answer &answer, RustCallStatus *status)
{
    status->code = answer.code;
    if (answer.errorBuffer) {
        status->errorBuf = makeBuffer(*answer.errorBuffer);
    }
}

void FakeTavrineCore::consumeHandle(uint64_t handle, const QString &function)
{
    if (m_liveHandles.erase(handle) == 0) {
        misuse.append(function + QStringLiteral(": handle %1 is not live").arg(handle));
    }
}

uint64_t FakeTavrineCore::cloneHandle(uint64_t handle, RustCallStatus *status)
{
    if (failNextClone) {
        status->code = *std::exchange(failNextClone, std::nullopt);
        return 0;
    }
    if (!m_liveHandles.count(handle)) {
        misuse.append(QStringLiteral("clone of handle %1, which is not live").arg(handle));
    }
    return newHandle();
}

void FakeTavrineCore::freeHandle(uint64_t handle)
{
    freedHandles.append(handle);
    consumeHandle(handle, QStringLiteral("free"));
}

void FakeTavrineCore::trace(const QString &function) const
{
    if (qEnvironmentVariableIsSet("TAVRINE_FAKE_CORE_TRACE")) {
        std::fprintf(stderr, "fake core: %s\n", function.toUtf8().constData());
        std::fflush(stderr);
    }
}

namespace {

FakeTavrineCore &core()
{
    return FakeTavrineCore::instance();
}

// Records a method or constructor call: takes over its argument buffers, consumes its handle and answers.
FakeTavrineCore::Answer record(const char *function, std::optional<uint64_t> handle,
                               std::initializer_list<RustBuffer> buffers, std::initializer_list<int64_t> numbers,
                               RustCallStatus *status)
{
    const QString name = QString::fromLatin1(function);
    core().trace(name);
    FakeTavrineCore::Call call{name, handle.value_or(0), {}, QList<int64_t>(numbers)};
    for (const RustBuffer &buffer : buffers) {
        call.buffers.append(core().takeBuffer(buffer, name));
    }
    if (handle) {
        core().consumeHandle(*handle, name);
    }
    core().calls.append(call);
    FakeTavrineCore::Answer answer = core().takeAnswer(name);
    core().applyStatus(answer, status);
    return answer;
}

RustBuffer bufferAnswer(const FakeTavrineCore::Answer &answer)
{
    return answer.result ? core().makeBuffer(*answer.result) : RustBuffer{};
}

uint64_t handleAnswer(const FakeTavrineCore::Answer &answer)
{
    if (answer.code != 0) {
        return 0;
    }
    return answer.handle != 0 ? answer.handle : core().newHandle();
}

} // namespace

TavrineCoreFunctions FakeTavrineCore::functions()
{
    TavrineCoreFunctions f;
    f.ffi_tavrine_core_uniffi_contract_version = [] {
        core().trace(QStringLiteral("contract_version"));
        ++core().contractVersionCalls;
        return core().contractVersion;
    };
#define FAKE_CHECKSUM(operation, expected)                                                                             \
    f.uniffi_tavrine_core_checksum_##operation = []() -> uint16_t {                                                    \
        core().trace(QStringLiteral("checksum_" #operation));                                                          \
        return core().checksumOverrides.value(QStringLiteral(#operation), expected);                                   \
    };
    TAVRINE_CORE_CHECKSUMS(FAKE_CHECKSUM)
#undef FAKE_CHECKSUM

    f.ffi_tavrine_core_rustbuffer_from_bytes = [](ForeignBytes bytes, RustCallStatus *status) {
        core().trace(QStringLiteral("rustbuffer_from_bytes"));
        core().foreignBytes.append(ForeignBytes{bytes.len, nullptr});
        if (core().failNextBufferCreation) {
            status->code = *std::exchange(core().failNextBufferCreation, std::nullopt);
            return RustBuffer{};
        }
        return core().makeBuffer({QByteArray(reinterpret_cast<const char *>(bytes.data), bytes.len), false});
    };
    f.ffi_tavrine_core_rustbuffer_free = [](RustBuffer buffer, RustCallStatus *) {
        core().trace(QStringLiteral("rustbuffer_free"));
        core().freeBuffer(buffer);
    };

    f.uniffi_tavrine_core_fn_clone_transferhost = [](uint64_t handle, RustCallStatus *status) {
        core().trace(QStringLiteral("clone_transferhost"));
        return core().cloneHandle(handle, status);
    };
    f.uniffi_tavrine_core_fn_free_transferhost = [](uint64_t handle, RustCallStatus *) {
        core().trace(QStringLiteral("free_transferhost"));
        core().freeHandle(handle);
    };
    f.uniffi_tavrine_core_fn_clone_transferclient = [](uint64_t handle, RustCallStatus *status) {
        core().trace(QStringLiteral("clone_transferclient"));
        return core().cloneHandle(handle, status);
    };
    f.uniffi_tavrine_core_fn_free_transferclient = [](uint64_t handle, RustCallStatus *) {
        core().trace(QStringLiteral("free_transferclient"));
        core().freeHandle(handle);
    };

    f.uniffi_tavrine_core_fn_constructor_transferhost_start = [](RustBuffer a, RustBuffer b, RustBuffer c, RustBuffer d,
                                                                 RustBuffer e, RustCallStatus *s) {
        return handleAnswer(record("constructor_transferhost_start", std::nullopt, {a, b, c, d, e}, {}, s));
    };
    f.uniffi_tavrine_core_fn_constructor_transferclient_connect = [](RustBuffer a, RustBuffer b, RustBuffer c,
                                                                     RustBuffer d, RustCallStatus *s) {
        return handleAnswer(record("constructor_transferclient_connect", std::nullopt, {a, b, c, d}, {}, s));
    };

#define FAKE_FLAG_WITH_TEXT(object, operation)                                                                         \
    f.uniffi_tavrine_core_fn_method_##object##_##operation = [](uint64_t h, RustBuffer a, RustCallStatus *s) {         \
        return record(#object "_" #operation, h, {a}, {}, s).flag;                                                     \
    };
#define FAKE_FLAG(object, operation)                                                                                   \
    f.uniffi_tavrine_core_fn_method_##object##_##operation = [](uint64_t h, RustCallStatus *s) {                       \
        return record(#object "_" #operation, h, {}, {}, s).flag;                                                      \
    };
#define FAKE_BUFFER(object, operation)                                                                                 \
    f.uniffi_tavrine_core_fn_method_##object##_##operation = [](uint64_t h, RustCallStatus *s) {                       \
        return bufferAnswer(record(#object "_" #operation, h, {}, {}, s));                                             \
    };
#define FAKE_NOTHING(object, operation)                                                                                \
    f.uniffi_tavrine_core_fn_method_##object##_##operation = [](uint64_t h, RustCallStatus *s) {                       \
        record(#object "_" #operation, h, {}, {}, s);                                                                  \
    };

    FAKE_FLAG_WITH_TEXT(transferhost, acknowledge_received_transfer)
    FAKE_FLAG_WITH_TEXT(transferhost, cancel_transfer)
    FAKE_BUFFER(transferhost, confirmation_code)
    FAKE_BUFFER(transferhost, identity_material)
    FAKE_FLAG(transferhost, is_connected)
    FAKE_BUFFER(transferhost, pairing_payload)
    FAKE_FLAG_WITH_TEXT(transferhost, pause_transfer)
    FAKE_BUFFER(transferhost, poll_event)
    FAKE_BUFFER(transferhost, poll_management_response)
    f.uniffi_tavrine_core_fn_method_transferhost_request_management = [](uint64_t h, RustBuffer a, RustBuffer b,
                                                                         RustCallStatus *s) {
        return bufferAnswer(record("transferhost_request_management", h, {a, b}, {}, s));
    };
    f.uniffi_tavrine_core_fn_method_transferhost_send_file = [](uint64_t h, RustBuffer a, RustBuffer b,
                                                                RustCallStatus *s) {
        return bufferAnswer(record("transferhost_send_file", h, {a, b}, {}, s));
    };
    f.uniffi_tavrine_core_fn_method_transferhost_send_file_with_id = [](uint64_t h, RustBuffer a, RustBuffer b,
                                                                        RustBuffer c, RustCallStatus *s) {
        record("transferhost_send_file_with_id", h, {a, b, c}, {}, s);
    };
    FAKE_BUFFER(transferhost, trusted_peer_secret)

    FAKE_FLAG_WITH_TEXT(transferclient, acknowledge_received_transfer)
    FAKE_FLAG_WITH_TEXT(transferclient, cancel_transfer)
    FAKE_NOTHING(transferclient, confirm_pairing)
    FAKE_NOTHING(transferclient, disconnect)
    FAKE_FLAG(transferclient, is_connected)
    FAKE_FLAG_WITH_TEXT(transferclient, pause_transfer)
    FAKE_BUFFER(transferclient, poll_event)
    FAKE_BUFFER(transferclient, poll_management_request)
    f.uniffi_tavrine_core_fn_method_transferclient_respond_management =
        [](uint64_t h, RustBuffer a, int8_t success, RustBuffer b, RustBuffer c, RustCallStatus *s) {
            return record("transferclient_respond_management", h, {a, b, c}, {success}, s).flag;
        };
    f.uniffi_tavrine_core_fn_method_transferclient_send_file_descriptor = [](uint64_t h, int32_t fd, RustBuffer a,
                                                                             uint64_t size, RustCallStatus *s) {
        return bufferAnswer(record("transferclient_send_file_descriptor", h, {a}, {fd, int64_t(size)}, s));
    };
    f.uniffi_tavrine_core_fn_method_transferclient_send_file_descriptor_with_id =
        [](uint64_t h, int32_t fd, RustBuffer a, uint64_t size, RustBuffer b, RustCallStatus *s) {
            record("transferclient_send_file_descriptor_with_id", h, {a, b}, {fd, int64_t(size)}, s);
        };
    FAKE_BUFFER(transferclient, trusted_connection_material)

#undef FAKE_FLAG_WITH_TEXT
#undef FAKE_FLAG
#undef FAKE_BUFFER
#undef FAKE_NOTHING
    return f;
}
