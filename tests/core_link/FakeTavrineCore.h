#pragma once

#include "BindingRuntime.h"
#include "TavrineCoreFunctions.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <optional>
#include <set>

// A stand-in for the core library behind the binding's function table. Every function records its call
// and answers from a script, so tests can return any status, any buffer and any contract values. It
// tracks every buffer and handle it hands out, so a leak or a double free shows.
class FakeTavrineCore
{
public:
    struct Buffer
    {
        QByteArray bytes;
        bool nullData = false; // a buffer whose data pointer is null, with `len` = bytes.size()
    };

    // What the next call of one function answers, e.g. Answer{.code = 2, .errorBuffer = Buffer{"boom"}}.
    struct Answer
    {
        int8_t code = 0;
        std::optional<Buffer> errorBuffer;
        std::optional<Buffer> result; // for functions returning a RustBuffer
        int8_t flag = 0;              // for functions returning a flag
    };

    static FakeTavrineCore &instance();
    static TavrineCoreFunctions functions();
    static void install() { installTavrineCoreFunctions(functions()); }

    // Forgets calls and answers; buffers and handles still alive stay tracked.
    void resetCalls();

    uint32_t contractVersion = TAVRINE_CORE_CONTRACT_VERSION;
    // Checksums to answer instead of the expected ones, by operation (e.g. "method_transferhost_poll_event").
    QHash<QString, uint16_t> checksumOverrides;
    // A failure status for the next buffer creation or handle clone.
    std::optional<int8_t> failNextBufferCreation;
    std::optional<int8_t> failNextClone;

    void answerNext(const QString &function, const Answer &answer) { answers.insert(function, answer); }
    // A new live handle, as a constructor would return it.
    uint64_t newHandle();
    RustBuffer makeBuffer(const Buffer &buffer);

    // Calls other than buffer creation and freeing, in order, as "function buffer|buffer… number|number…" (the
    // function without the "uniffi_tavrine_core_fn_" or "uniffi_tavrine_core_fn_method_" prefix; numbers are
    // flags, descriptors and sizes).
    QStringList calls;
    QStringList misuse; // double frees, unknown buffers, handles used after being consumed

    int liveBufferCount() const { return int(liveBuffers.size()); }
    int liveHandleCount() const { return int(liveHandles.size()); }

    // The bookkeeping of the fake's functions.
    QHash<QString, Answer> answers;
    std::set<uint8_t *> liveBuffers;
    std::set<uint64_t> liveHandles;
    uint64_t nextHandle = 0x1000;

private:
    FakeTavrineCore() = default;
};

// Small builders of the byte layouts that the core library exchanges with the binding.
namespace coretest {

inline FakeTavrineCore &fake()
{
    return FakeTavrineCore::instance();
}

inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(value));
    return result;
}

inline QByteArray int32(int32_t value)
{
    ByteWriter writer;
    writer.writeInt32(value);
    return writer.bytes();
}

// A text nested in a compound value: its byte count, then the bytes.
inline QByteArray nested(const QByteArray &utf8)
{
    return int32(int32_t(utf8.size())) + utf8;
}

// A buffer as the library returns it, tracked by the fake.
inline uniffi::OwnedRustBuffer libraryBuffer(const QByteArray &data)
{
    return uniffi::OwnedRustBuffer(fake().makeBuffer({data}));
}

// What body threw, as the exception's text; empty when it threw nothing.
template <typename Body> QString failureOf(Body &&body)
{
    try {
        body();
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    }
    return {};
}

template <typename Body> std::optional<UniffiInternalError> internalErrorOf(Body &&body)
{
    try {
        body();
    } catch (const UniffiInternalError &error) {
        return error;
    }
    return std::nullopt;
}

} // namespace coretest
