#pragma once

#include "TavrineCoreFunctions.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
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

    // What the next call of one function answers.
    struct Answer
    {
        int8_t code = 0;
        std::optional<Buffer> errorBuffer;
        std::optional<Buffer> result; // for functions returning a RustBuffer
        int8_t flag = 0;              // for functions returning a flag
        uint64_t handle = 0;          // for constructors; 0 takes the next free handle

        static Answer failure(int8_t code, std::optional<Buffer> errorBuffer = std::nullopt)
        {
            Answer answer;
            answer.code = code;
            answer.errorBuffer = std::move(errorBuffer);
            return answer;
        }
        static Answer returning(const QByteArray &bytes)
        {
            Answer answer;
            answer.result = Buffer{bytes, false};
            return answer;
        }
        static Answer returningFlag(int8_t flag)
        {
            Answer answer;
            answer.flag = flag;
            return answer;
        }
    };

    struct Call
    {
        QString function; // without the "uniffi_tavrine_core_fn_" or "ffi_tavrine_core_" prefix
        uint64_t handle = 0;
        QList<QByteArray> buffers; // the bytes of every RustBuffer argument, in order
        QList<int64_t> numbers;    // flags, descriptors and sizes, in order
    };

    static FakeTavrineCore &instance();
    static TavrineCoreFunctions functions();
    static void install() { installTavrineCoreFunctions(functions()); }

    // Forgets calls and answers; buffers and handles still alive stay tracked.
    void resetCalls();

    uint32_t contractVersion = TAVRINE_CORE_CONTRACT_VERSION;
    int contractVersionCalls = 0;
    // Checksums to answer instead of the expected ones, by operation (e.g. "method_transferhost_poll_event").
    QHash<QString, uint16_t> checksumOverrides;
    // A failure status for the next buffer creation or handle clone.
    std::optional<int8_t> failNextBufferCreation;
    std::optional<int8_t> failNextClone;

    void answerNext(const QString &function, const Answer &answer) { m_answers.insert(function, answer); }

    // A new live handle, as a constructor would return it.
    uint64_t newHandle();

    // Calls other than buffer creation and freeing, in order.
    QList<Call> calls;
    QList<ForeignBytes> foreignBytes; // every buffer creation's argument (data pointers no longer valid)
    QList<uint64_t> freedHandles;
    QStringList misuse; // double frees, unknown buffers, handles used after being consumed

    int liveBufferCount() const { return int(m_liveBuffers.size()); }
    int liveHandleCount() const { return int(m_liveHandles.size()); }
    bool isLiveHandle(uint64_t handle) const { return m_liveHandles.count(handle) > 0; }

    // Used by the fake's functions.
    RustBuffer makeBuffer(const Buffer &buffer);
    QByteArray takeBuffer(RustBuffer buffer, const QString &function);
    void freeBuffer(RustBuffer buffer);
    Answer takeAnswer(const QString &function);
    void applyStatus(const Answer &answer, RustCallStatus *status);
    void consumeHandle(uint64_t handle, const QString &function);
    uint64_t cloneHandle(uint64_t handle, RustCallStatus *status);
    void freeHandle(uint64_t handle);
    void trace(const QString &function) const;

private:
    FakeTavrineCore() = default;

    QHash<QString, Answer> m_answers;
    std::set<uint8_t *> m_liveBuffers;
    std::set<uint64_t> m_liveHandles;
    uint64_t m_nextHandle = 0x1000;
};
