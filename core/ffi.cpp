// The C functions of libtavrine_core over the engine's Host and Client.
//
// Every function turns whatever happens inside into a call status: nothing may throw across the C
// boundary, crash on a bad argument or leak a buffer that was handed to us.

#include "Client.h"
#include "CoreTypes.h"
#include "Host.h"
#include "tavrine_core.h"
#include "tavrine_core_contract.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

using tavrine::core::Client;
using tavrine::core::CoreError;
using tavrine::core::Event;
using tavrine::core::Host;
using tavrine::core::ManagementRequest;
using tavrine::core::ManagementResponse;

constexpr int8_t statusSuccess = 0;
constexpr int8_t statusCoreError = 1;
constexpr int8_t statusInternalFailure = 2;
// Callers read every length as a signed 32-bit count.
constexpr uint64_t maximumBufferLength = std::numeric_limits<int32_t>::max();

// A failure of the call itself (broken argument, unknown handle), reported as status 2.
class InternalFailure : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Whether a function reports a CoreError to its caller as an encoded error or as an internal failure.
enum class Declares
{
    noError,
    coreError
};

// --- Buffers ------------------------------------------------------------------------------------------------------

// Every buffer we hand out comes from here and goes back through releaseBuffer. Even an empty one owns
// a byte, so callers that require data never see a null pointer from us.
RustBuffer bufferWithBytes(std::span<const uint8_t> bytes)
{
    if (bytes.size() > maximumBufferLength) {
        throw InternalFailure("a buffer may hold at most 2147483647 bytes");
    }
    const std::size_t capacity = std::max<std::size_t>(bytes.size(), 1);
    auto *data = new uint8_t[capacity]();
    std::copy(bytes.begin(), bytes.end(), data);
    return RustBuffer{capacity, bytes.size(), data};
}

void releaseBuffer(const RustBuffer &buffer) noexcept
{
    delete[] buffer.data;
}

std::span<const uint8_t> bytesOf(const std::string &text)
{
    return {reinterpret_cast<const uint8_t *>(text.data()), text.size()};
}

// Big-endian encoding of records, optionals and errors.
class ByteWriter
{
public:
    void writeInt32(int32_t value) { writeBigEndian(static_cast<uint32_t>(value)); }
    void writeUInt64(uint64_t value) { writeBigEndian(value); }
    void writeByte(uint8_t value) { m_bytes.push_back(value); }
    // A nested text: its UTF-8 byte count, then the bytes.
    void writeText(const std::string &text)
    {
        if (text.size() > maximumBufferLength) {
            throw InternalFailure("a text may hold at most 2147483647 bytes");
        }
        writeInt32(static_cast<int32_t>(text.size()));
        m_bytes.insert(m_bytes.end(), text.begin(), text.end());
    }

    RustBuffer toBuffer() const { return bufferWithBytes(m_bytes); }

private:
    template <typename Unsigned> void writeBigEndian(Unsigned value)
    {
        for (int shift = static_cast<int>(sizeof(Unsigned)) * 8 - 8; shift >= 0; shift -= 8) {
            m_bytes.push_back(static_cast<uint8_t>(value >> shift));
        }
    }

    std::vector<uint8_t> m_bytes;
};

// The argument buffers of one call. They passed to us with the call, so they are freed when it ends,
// whatever happened in between.
template <std::size_t count> class ArgumentBuffers
{
public:
    explicit ArgumentBuffers(std::array<RustBuffer, count> buffers) noexcept : m_buffers(buffers) {}
    ~ArgumentBuffers()
    {
        for (const RustBuffer &buffer : m_buffers) {
            releaseBuffer(buffer);
        }
    }
    ArgumentBuffers(const ArgumentBuffers &) = delete;
    ArgumentBuffers &operator=(const ArgumentBuffers &) = delete;

    // Every argument as bare UTF-8 text, in order. Bytes are kept as they are, valid UTF-8 or not.
    std::array<std::string, count> texts() const
    {
        std::array<std::string, count> texts;
        for (std::size_t index = 0; index < count; ++index) {
            texts[index] = textOf(m_buffers[index], index);
        }
        return texts;
    }

private:
    static std::string textOf(const RustBuffer &buffer, std::size_t index)
    {
        if (buffer.data == nullptr && buffer.len > 0) {
            throw InternalFailure(brokenMessage(index, "has no data but a length"));
        }
        if (buffer.len > buffer.capacity) {
            throw InternalFailure(brokenMessage(index, "is longer than its capacity"));
        }
        if (buffer.len > maximumBufferLength) {
            throw InternalFailure(brokenMessage(index, "is longer than 2147483647 bytes"));
        }
        if (buffer.data == nullptr) {
            return {};
        }
        return std::string(reinterpret_cast<const char *>(buffer.data), buffer.len);
    }

    static std::string brokenMessage(std::size_t index, const char *fault)
    {
        return "argument buffer " + std::to_string(index + 1) + " " + fault;
    }

    std::array<RustBuffer, count> m_buffers;
};

// --- Results ------------------------------------------------------------------------------------------------------

void write(ByteWriter &writer, const std::string &text)
{
    writer.writeText(text);
}

void write(ByteWriter &writer, const Event &event)
{
    writer.writeInt32(static_cast<int32_t>(event.kind));
    writer.writeInt32(static_cast<int32_t>(event.direction));
    writer.writeText(event.transferId);
    writer.writeText(event.fileName);
    writer.writeUInt64(event.transferredBytes);
    writer.writeUInt64(event.totalBytes);
    writer.writeText(event.peerName);
    writer.writeText(event.peerId);
    writer.writeText(event.message);
}

void write(ByteWriter &writer, const ManagementResponse &response)
{
    writer.writeText(response.requestId);
    writer.writeText(response.action);
    writer.writeByte(response.success ? 1 : 0);
    writer.writeText(response.payload);
    writer.writeText(response.message);
}

void write(ByteWriter &writer, const ManagementRequest &request)
{
    writer.writeText(request.requestId);
    writer.writeText(request.action);
    writer.writeText(request.payload);
}

// The C form of each result kind.
int8_t lower(bool flag)
{
    return flag ? 1 : 0;
}

uint64_t lower(uint64_t handle)
{
    return handle;
}

RustBuffer lower(std::span<const uint8_t> bytes)
{
    return bufferWithBytes(bytes);
}

RustBuffer lower(const std::string &text)
{
    return bufferWithBytes(bytesOf(text));
}

template <typename Value> RustBuffer lower(const std::optional<Value> &value)
{
    ByteWriter writer;
    writer.writeByte(value ? 1 : 0);
    if (value) {
        write(writer, *value);
    }
    return writer.toBuffer();
}

template <typename Body> auto invokeAndLower(Body &body)
{
    if constexpr (std::is_void_v<std::invoke_result_t<Body &>>) {
        body();
    } else {
        return lower(body());
    }
}

// --- Call status --------------------------------------------------------------------------------------------------

void reportInternalFailure(RustCallStatus *status, std::string_view message) noexcept
{
    if (status == nullptr) {
        return;
    }
    status->code = statusInternalFailure;
    try {
        status->errorBuf = bufferWithBytes({reinterpret_cast<const uint8_t *>(message.data()), message.size()});
    } catch (...) {
        // Without a message the caller still learns of the failure.
        status->errorBuf = RustBuffer{};
    }
}

void reportCoreError(RustCallStatus *status, const CoreError &error) noexcept
{
    if (status == nullptr) {
        return;
    }
    try {
        ByteWriter writer;
        writer.writeInt32(static_cast<int32_t>(error.kind()));
        if (error.hasDetails()) {
            writer.writeText(error.details());
        }
        status->errorBuf = writer.toBuffer();
        status->code = statusCoreError;
    } catch (...) {
        reportInternalFailure(status, "the error could not be encoded");
    }
}

std::string describe(const CoreError &error)
{
    static constexpr std::array<const char *, 7> kindNames = {
        "InvalidPairingPayload",
        "ServiceStart",
        "NotConnected",
        "FileAccess",
        "InvalidTransferId",
        "TransferCleanup",
        "InvalidManagementRequest",
    };
    const auto tag = static_cast<int32_t>(error.kind());
    std::string description = tag >= 1 && tag <= static_cast<int32_t>(kindNames.size())
                                  ? kindNames[tag - 1]
                                  : "core error " + std::to_string(tag);
    if (!error.details().empty()) {
        description += ": " + error.details();
    }
    return description;
}

// A CoreError from a function that declares none is a failure of the call, described in words.
void reportUndeclaredCoreError(RustCallStatus *status, const CoreError &error) noexcept
{
    try {
        reportInternalFailure(status, describe(error));
    } catch (...) {
        reportInternalFailure(status, {});
    }
}

// Runs one call's body and reports its outcome in `status` (which may be null: then nothing is
// reported). On failure the result is the zero value of its C type.
template <Declares errors, typename Body> auto runWithStatus(RustCallStatus *status, Body &&body) noexcept
{
    using Result = decltype(invokeAndLower(body));
    try {
        if (status != nullptr) {
            status->code = statusSuccess;
            status->errorBuf = RustBuffer{};
        }
        return invokeAndLower(body);
    } catch (const CoreError &error) {
        if constexpr (errors == Declares::coreError) {
            reportCoreError(status, error);
        } else {
            reportUndeclaredCoreError(status, error);
        }
    } catch (const std::exception &error) {
        reportInternalFailure(status, error.what());
    } catch (...) {
        reportInternalFailure(status, "unknown failure");
    }
    if constexpr (!std::is_void_v<Result>) {
        return Result{};
    }
}

// --- Handles ------------------------------------------------------------------------------------------------------

// Handles are a counter from a random start through a bijective mix: never reused within the process,
// and a stale or made-up number is unlikely to name a live object.
uint64_t newHandle()
{
    static std::atomic<uint64_t> counter{[] {
        std::random_device device;
        return (static_cast<uint64_t>(device()) << 32) | device();
    }()};
    for (;;) {
        uint64_t value = counter.fetch_add(1, std::memory_order_relaxed);
        value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ULL;
        value = (value ^ (value >> 27)) * 0x94d049bb133111ebULL;
        value ^= value >> 31;
        if (value != 0) {
            return value;
        }
    }
}

template <typename Object> constexpr const char *objectName = nullptr;
template <> constexpr const char *objectName<Host> = "transfer host";
template <> constexpr const char *objectName<Client> = "transfer client";

// Handles of one object type. An object lives while any of its handles does.
template <typename Object> class HandleTable
{
public:
    uint64_t insert(std::shared_ptr<Object> object)
    {
        if (!object) {
            throw InternalFailure(std::string("no ") + objectName<Object> + " was created");
        }
        const uint64_t handle = newHandle();
        const std::lock_guard lock(m_mutex);
        m_objects.emplace(handle, std::move(object));
        return handle;
    }

    uint64_t clone(uint64_t handle)
    {
        const uint64_t cloned = newHandle();
        const std::lock_guard lock(m_mutex);
        m_objects.emplace(cloned, find(handle)->second);
        return cloned;
    }

    // Removes the handle. The object is destroyed outside the lock when this was its last handle.
    std::shared_ptr<Object> take(uint64_t handle)
    {
        const std::lock_guard lock(m_mutex);
        const auto found = find(handle);
        std::shared_ptr<Object> object = std::move(found->second);
        m_objects.erase(found);
        return object;
    }

private:
    auto find(uint64_t handle)
    {
        const auto found = m_objects.find(handle);
        if (found == m_objects.end()) {
            throw InternalFailure(std::string("unknown ") + objectName<Object> + " handle " + std::to_string(handle));
        }
        return found;
    }

    std::mutex m_mutex;
    std::unordered_map<uint64_t, std::shared_ptr<Object>> m_objects;
};

template <typename Object> HandleTable<Object> &handles()
{
    // Never destroyed: objects still held at exit must not be torn down while their threads may run.
    static auto *const table = new HandleTable<Object>;
    return *table;
}

// --- Calls --------------------------------------------------------------------------------------------------------

// A constructor: `create` receives the argument texts and returns the new object.
template <typename Object, typename Create, typename... Buffers>
uint64_t construct(RustCallStatus *status, Create create, Buffers... buffers) noexcept
{
    const ArgumentBuffers<sizeof...(Buffers)> arguments({buffers...});
    return runWithStatus<Declares::coreError>(
        status, [&] { return handles<Object>().insert(std::apply(create, arguments.texts())); });
}

// A method: consumes `handle`, then `body` receives the object and the argument texts.
template <Declares errors, typename Object, typename Body, typename... Buffers>
auto callMethod(uint64_t handle, RustCallStatus *status, Body body, Buffers... buffers) noexcept
{
    const ArgumentBuffers<sizeof...(Buffers)> arguments({buffers...});
    return runWithStatus<errors>(status, [&] {
        const std::shared_ptr<Object> object = handles<Object>().take(handle);
        return std::apply([&](const auto &...texts) { return body(*object, texts...); }, arguments.texts());
    });
}

} // namespace

extern "C" {

// --- Contract -----------------------------------------------------------------------------------------------------

uint32_t ffi_tavrine_core_uniffi_contract_version(void)
{
    return TAVRINE_CORE_CONTRACT_VERSION;
}

#define TAVRINE_CHECKSUM_FUNCTION(operation, checksum)                                                                 \
    uint16_t uniffi_tavrine_core_checksum_##operation(void)                                                            \
    {                                                                                                                  \
        return checksum;                                                                                               \
    }
TAVRINE_CORE_CHECKSUMS(TAVRINE_CHECKSUM_FUNCTION)
#undef TAVRINE_CHECKSUM_FUNCTION

// --- Buffers ------------------------------------------------------------------------------------------------------

RustBuffer ffi_tavrine_core_rustbuffer_from_bytes(ForeignBytes bytes, RustCallStatus *out_status)
{
    return runWithStatus<Declares::noError>(out_status, [&] {
        if (bytes.len < 0) {
            throw InternalFailure("negative byte count");
        }
        if (bytes.data == nullptr && bytes.len > 0) {
            throw InternalFailure("no bytes behind a positive byte count");
        }
        return std::span<const uint8_t>(bytes.data, static_cast<std::size_t>(bytes.len));
    });
}

void ffi_tavrine_core_rustbuffer_free(RustBuffer buffer, RustCallStatus *out_status)
{
    runWithStatus<Declares::noError>(out_status, [&] { releaseBuffer(buffer); });
}

// --- Handles and constructors -------------------------------------------------------------------------------------

#define TAVRINE_HANDLE_FUNCTIONS(object, Type)                                                                         \
    uint64_t uniffi_tavrine_core_fn_clone_##object(uint64_t handle, RustCallStatus *out_status)                        \
    {                                                                                                                  \
        return runWithStatus<Declares::noError>(out_status, [&] { return handles<Type>().clone(handle); });            \
    }                                                                                                                  \
    void uniffi_tavrine_core_fn_free_##object(uint64_t handle, RustCallStatus *out_status)                             \
    {                                                                                                                  \
        runWithStatus<Declares::noError>(out_status, [&] { handles<Type>().take(handle); });                           \
    }
TAVRINE_HANDLE_FUNCTIONS(transferhost, Host)
TAVRINE_HANDLE_FUNCTIONS(transferclient, Client)
#undef TAVRINE_HANDLE_FUNCTIONS

uint64_t uniffi_tavrine_core_fn_constructor_transferhost_start(RustBuffer advertised_host, RustBuffer inbox_directory,
                                                               RustBuffer device_name, RustBuffer identity_material,
                                                               RustBuffer trusted_peer_secret,
                                                               RustCallStatus *out_status)
{
    return construct<Host>(
        out_status, [](const auto &...texts) { return Host::start(texts...); }, advertised_host, inbox_directory,
        device_name, identity_material, trusted_peer_secret);
}

uint64_t uniffi_tavrine_core_fn_constructor_transferclient_connect(RustBuffer pairing_payload,
                                                                   RustBuffer connection_material,
                                                                   RustBuffer device_name, RustBuffer inbox_directory,
                                                                   RustCallStatus *out_status)
{
    return construct<Client>(
        out_status, [](const auto &...texts) { return Client::connect(texts...); }, pairing_payload,
        connection_material, device_name, inbox_directory);
}

// --- Methods ------------------------------------------------------------------------------------------------------

// X(object, Type, operation, member, C result, errors) for the methods that take the handle alone.
#define TAVRINE_PLAIN_METHODS(X)                                                                                       \
    X(transferhost, Host, confirmation_code, confirmationCode, RustBuffer, noError)                                    \
    X(transferhost, Host, identity_material, identityMaterial, RustBuffer, noError)                                    \
    X(transferhost, Host, is_connected, isConnected, int8_t, noError)                                                  \
    X(transferhost, Host, pairing_payload, pairingPayload, RustBuffer, noError)                                        \
    X(transferhost, Host, poll_event, pollEvent, RustBuffer, noError)                                                  \
    X(transferhost, Host, poll_management_response, pollManagementResponse, RustBuffer, noError)                       \
    X(transferhost, Host, trusted_peer_secret, trustedPeerSecret, RustBuffer, noError)                                 \
    X(transferclient, Client, confirm_pairing, confirmPairing, void, coreError)                                        \
    X(transferclient, Client, disconnect, disconnect, void, noError)                                                   \
    X(transferclient, Client, is_connected, isConnected, int8_t, noError)                                              \
    X(transferclient, Client, poll_event, pollEvent, RustBuffer, noError)                                              \
    X(transferclient, Client, poll_management_request, pollManagementRequest, RustBuffer, noError)                     \
    X(transferclient, Client, trusted_connection_material, trustedConnectionMaterial, RustBuffer, noError)

// The same for the methods that take a transfer id and answer with a flag.
#define TAVRINE_TRANSFER_ID_METHODS(X)                                                                                 \
    X(transferhost, Host, acknowledge_received_transfer, acknowledgeReceivedTransfer, int8_t, coreError)               \
    X(transferhost, Host, cancel_transfer, cancelTransfer, int8_t, noError)                                            \
    X(transferhost, Host, pause_transfer, pauseTransfer, int8_t, noError)                                              \
    X(transferclient, Client, acknowledge_received_transfer, acknowledgeReceivedTransfer, int8_t, coreError)           \
    X(transferclient, Client, cancel_transfer, cancelTransfer, int8_t, noError)                                        \
    X(transferclient, Client, pause_transfer, pauseTransfer, int8_t, noError)

#define TAVRINE_PLAIN_METHOD(object, Type, operation, member, Result, errors)                                          \
    Result uniffi_tavrine_core_fn_method_##object##_##operation(uint64_t handle, RustCallStatus *out_status)           \
    {                                                                                                                  \
        return callMethod<Declares::errors, Type>(handle, out_status, [](Type &target) { return target.member(); });   \
    }
TAVRINE_PLAIN_METHODS(TAVRINE_PLAIN_METHOD)
#undef TAVRINE_PLAIN_METHOD

#define TAVRINE_TRANSFER_ID_METHOD(object, Type, operation, member, Result, errors)                                    \
    Result uniffi_tavrine_core_fn_method_##object##_##operation(uint64_t handle, RustBuffer transfer_id,               \
                                                                RustCallStatus *out_status)                            \
    {                                                                                                                  \
        return callMethod<Declares::errors, Type>(                                                                     \
            handle, out_status, [](Type &target, const std::string &id) { return target.member(id); }, transfer_id);   \
    }
TAVRINE_TRANSFER_ID_METHODS(TAVRINE_TRANSFER_ID_METHOD)
#undef TAVRINE_TRANSFER_ID_METHOD

RustBuffer uniffi_tavrine_core_fn_method_transferhost_request_management(uint64_t handle, RustBuffer action,
                                                                         RustBuffer payload, RustCallStatus *out_status)
{
    return callMethod<Declares::coreError, Host>(
        handle, out_status,
        [](Host &host, const std::string &actionText, const std::string &payloadText) {
            return host.requestManagement(actionText, payloadText);
        },
        action, payload);
}

RustBuffer uniffi_tavrine_core_fn_method_transferhost_send_file(uint64_t handle, RustBuffer local_path,
                                                                RustBuffer file_name, RustCallStatus *out_status)
{
    return callMethod<Declares::coreError, Host>(
        handle, out_status,
        [](Host &host, const std::string &path, const std::string &name) { return host.sendFile(path, name); },
        local_path, file_name);
}

void uniffi_tavrine_core_fn_method_transferhost_send_file_with_id(uint64_t handle, RustBuffer local_path,
                                                                  RustBuffer file_name, RustBuffer transfer_id,
                                                                  RustCallStatus *out_status)
{
    callMethod<Declares::coreError, Host>(
        handle, out_status,
        [](Host &host, const std::string &path, const std::string &name, const std::string &id) {
            host.sendFileWithId(path, name, id);
        },
        local_path, file_name, transfer_id);
}

int8_t uniffi_tavrine_core_fn_method_transferclient_respond_management(uint64_t handle, RustBuffer request_id,
                                                                       int8_t success, RustBuffer payload,
                                                                       RustBuffer message, RustCallStatus *out_status)
{
    return callMethod<Declares::noError, Client>(
        handle, out_status,
        [success](Client &client, const std::string &id, const std::string &payloadText,
                  const std::string &messageText) {
            return client.respondManagement(id, success != 0, payloadText, messageText);
        },
        request_id, payload, message);
}

RustBuffer uniffi_tavrine_core_fn_method_transferclient_send_file_descriptor(uint64_t handle, int32_t file_descriptor,
                                                                             RustBuffer file_name, uint64_t file_size,
                                                                             RustCallStatus *out_status)
{
    return callMethod<Declares::coreError, Client>(
        handle, out_status,
        [=](Client &client, const std::string &name) {
            return client.sendFileDescriptor(file_descriptor, name, file_size);
        },
        file_name);
}

void uniffi_tavrine_core_fn_method_transferclient_send_file_descriptor_with_id(uint64_t handle, int32_t file_descriptor,
                                                                               RustBuffer file_name, uint64_t file_size,
                                                                               RustBuffer transfer_id,
                                                                               RustCallStatus *out_status)
{
    callMethod<Declares::coreError, Client>(
        handle, out_status,
        [=](Client &client, const std::string &name, const std::string &id) {
            client.sendFileDescriptorWithId(file_descriptor, name, file_size, id);
        },
        file_name, transfer_id);
}

} // extern "C"
