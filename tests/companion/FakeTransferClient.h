#pragma once

#include "TransferClient.h"

#include <QQueue>

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
    std::optional<QString> connectionMaterial; // what a completed pairing leaves to store
    QList<ManagementResponse> *responseLog = nullptr; // also records the responses, and may outlive the client

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
    std::optional<TransferEvent> pollEvent() override { return takeFirst(events); }
    std::optional<ManagementRequest> pollManagementRequest() override { return takeFirst(requests); }
    bool respondManagement(const QString &id, bool success, const QString &payload, const QString &message) override
    {
        responses.append({id, {}, success, payload, message});
        if (responseLog)
            responseLog->append(responses.constLast());
        return true;
    }
    QString sendFileDescriptor(int32_t, const QString &, uint64_t) override { return {}; }
    void sendFileDescriptorWithId(int32_t fileDescriptor, const QString &fileName, uint64_t fileSize,
                                  const QString &transferId) override
    {
        if (sendError)
            throw *sendError;
        QByteArray contents(qsizetype(fileSize) + 1, '\0');
        contents.resize(std::max<ssize_t>(::pread(fileDescriptor, contents.data(), size_t(contents.size()), 0), 0));
        sentFiles.append({fileName, fileSize, transferId, contents, fileDescriptor});
    }
    std::optional<QString> trustedConnectionMaterial() override { return connectionMaterial; }

private:
    template <typename T> static std::optional<T> takeFirst(QQueue<T> &queue)
    {
        return queue.isEmpty() ? std::nullopt : std::optional(queue.dequeue());
    }
};
