#pragma once

#include "TransferClient.h"

#include <QByteArray>
#include <QList>
#include <QQueue>
#include <QString>

#include <optional>

#include <unistd.h>

// A core client that the test drives: it queues events and requests and records what the phone hands back.
class FakeTransferClient final : public TransferClientProtocol
{
public:
    struct SentFile
    {
        QString fileName;
        uint64_t fileSize = 0;
        QString transferId;
        QByteArray contents; // read through the descriptor during the call
        int fileDescriptor = -1;
    };

    QQueue<TransferEvent> events;
    QQueue<ManagementRequest> requests;
    QList<ManagementResponse> responses;
    QList<SentFile> sentFiles;
    QStringList acknowledgedTransferIds;
    std::optional<TavrineCoreError> sendError; // thrown by every send instead of sending

    uint64_t cloneHandle() const override { return 0; }
    bool acknowledgeReceivedTransfer(const QString &transferId) override
    {
        acknowledgedTransferIds.append(transferId);
        return true;
    }
    bool cancelTransfer(const QString &) override { return false; }
    void confirmPairing() override {}
    void disconnect() override {}
    bool isConnected() override { return true; }
    bool pauseTransfer(const QString &) override { return false; }
    std::optional<TransferEvent> pollEvent() override
    {
        return events.isEmpty() ? std::nullopt : std::optional(events.dequeue());
    }
    std::optional<ManagementRequest> pollManagementRequest() override
    {
        return requests.isEmpty() ? std::nullopt : std::optional(requests.dequeue());
    }
    bool respondManagement(const QString &requestId, bool success, const QString &payload,
                           const QString &message) override
    {
        responses.append({requestId, {}, success, payload, message});
        return true;
    }
    QString sendFileDescriptor(int32_t, const QString &, uint64_t) override { return {}; }
    void sendFileDescriptorWithId(int32_t fileDescriptor, const QString &fileName, uint64_t fileSize,
                                  const QString &transferId) override
    {
        if (sendError) {
            throw *sendError;
        }
        QByteArray contents(static_cast<qsizetype>(fileSize) + 1, '\0');
        const ssize_t count = ::pread(fileDescriptor, contents.data(), static_cast<size_t>(contents.size()), 0);
        contents.resize(count < 0 ? 0 : count);
        sentFiles.append({fileName, fileSize, transferId, contents, fileDescriptor});
    }
    std::optional<QString> trustedConnectionMaterial() override { return std::nullopt; }
};
