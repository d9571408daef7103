#pragma once

#include "BindingRuntime.h"
#include "FakeTavrineCore.h"

#include <QByteArray>

#include <initializer_list>
#include <optional>

// Small builders of the byte layouts that the core library exchanges with the binding.
namespace coretest {

inline FakeTavrineCore &fake()
{
    return FakeTavrineCore::instance();
}

inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values) {
        result.append(char(value));
    }
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
    return uniffi::OwnedRustBuffer(fake().makeBuffer({data, false}));
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
