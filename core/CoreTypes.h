#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

// The values the core library reports to its callers. Tags match the byte layout of the C surface.
namespace tavrine::core {

enum class EventKind : int32_t
{
    queued = 1,
    connecting,
    awaitingConfirmation,
    paired,
    sending,
    receiving,
    waitingForConnection,
    completed,
    paused,
    cancelled,
    failed,
    disconnected,
};

enum class Direction : int32_t
{
    none = 1,
    sending,
    receiving,
};

struct Event
{
    EventKind kind = EventKind::queued;
    Direction direction = Direction::none;
    std::string transferId;
    std::string fileName;
    uint64_t transferredBytes = 0;
    uint64_t totalBytes = 0;
    std::string peerName;
    std::string peerId;
    std::string message;
};

struct ManagementRequest
{
    std::string requestId;
    std::string action;
    std::string payload;
};

struct ManagementResponse
{
    std::string requestId;
    std::string action;
    bool success = false;
    std::string payload;
    std::string message;
};

// The error of the operations that may fail; kinds match the tags of the C surface.
class CoreError : public std::exception
{
public:
    enum class Kind : int32_t
    {
        InvalidPairingPayload = 1,
        ServiceStart,
        NotConnected,
        FileAccess,
        InvalidTransferId,
        TransferCleanup,
        InvalidManagementRequest,
    };

    explicit CoreError(Kind kind, std::string details = {}) : m_kind(kind), m_details(std::move(details)) {}

    Kind kind() const { return m_kind; }
    const std::string &details() const { return m_details; }
    bool hasDetails() const
    {
        return m_kind == Kind::ServiceStart || m_kind == Kind::FileAccess || m_kind == Kind::TransferCleanup ||
               m_kind == Kind::InvalidManagementRequest;
    }
    const char *what() const noexcept override { return m_details.c_str(); }

private:
    Kind m_kind;
    std::string m_details;
};

} // namespace tavrine::core
