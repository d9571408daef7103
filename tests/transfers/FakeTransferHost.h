#pragma once

#include "TransferHost.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

// A core host that answers from a script: tests queue the events and answers it offers for polling and
// read back the calls the store made.
class FakeTransferHost : public TransferHostProtocol
{
public:
    struct Script
    {
        std::deque<TransferEvent> events;
        std::deque<ManagementResponse> responses;
        std::optional<QString> trustedPeerSecret;
        QStringList requestIds; // handed out by requestManagement, in order
        QStringList calls;      // "pause:<id>", "cancel:<id>", "acknowledge:<id>", "request:<action>", ...
        QString identityMaterial = QStringLiteral("identity-material");
        int startCount = 0;
        QList<QStringList> startArguments;
        std::optional<TavrineCoreError> failNextRequest;
        std::optional<TavrineCoreError> failNextStart;
        // Asked at every start after failNextStart: that start's failure, as the core fails every start on a port
        // another program holds for as long as it holds it.
        std::function<std::optional<TavrineCoreError>()> startFailure;
    };

    explicit FakeTransferHost(std::shared_ptr<Script> script)
        : m_script(std::move(script)), m_startNumber(m_script->startCount)
    {}

    // A starter for TransferStoreEnvironment::startHost that builds fake hosts over one shared script.
    static auto starter(std::shared_ptr<Script> script)
    {
        return [script](const QString &advertisedHost, const QString &inboxDirectory, const QString &deviceName,
                        const QString &identityMaterial,
                        const QString &trustedPeerSecret) -> std::unique_ptr<TransferHostProtocol> {
            throwIfSet(script->failNextStart);
            if (script->startFailure) {
                if (std::optional<TavrineCoreError> failure = script->startFailure()) {
                    throw *failure;
                }
            }
            ++script->startCount;
            script->startArguments.append(
                {advertisedHost, inboxDirectory, deviceName, identityMaterial, trustedPeerSecret});
            return std::make_unique<FakeTransferHost>(script);
        };
    }

    uint64_t cloneHandle() const override { return 0; }
    bool acknowledgeReceivedTransfer(const QString &transferId) override { return record("acknowledge:", transferId); }
    bool cancelTransfer(const QString &transferId) override { return record("cancel:", transferId); }
    bool pauseTransfer(const QString &transferId) override { return record("pause:", transferId); }
    void sendFileWithId(const QString &, const QString &, const QString &transferId) override
    {
        record("send:", transferId);
    }
    QString sendFile(const QString &, const QString &) override { return {}; }
    QString confirmationCode() override { return QStringLiteral("123456"); }
    QString identityMaterial() override { return m_script->identityMaterial; }
    bool isConnected() override { return true; }
    // Each host started shows a link of its own, as real hosts do.
    QString pairingPayload() override
    {
        return QStringLiteral("tavrine://pair/v1?device=D%1&key=0123456789abcdef&token=0123456789abcdef&endpoint=E"
                              "&code=123456")
            .arg(m_startNumber);
    }
    std::optional<TransferEvent> pollEvent() override { return take(m_script->events); }
    std::optional<ManagementResponse> pollManagementResponse() override { return take(m_script->responses); }
    std::optional<QString> trustedPeerSecret() override { return m_script->trustedPeerSecret; }
    QString requestManagement(const QString &action, const QString &) override
    {
        throwIfSet(m_script->failNextRequest);
        record("request:", action);
        m_script->requestIds.append(QStringLiteral("request-%1").arg(m_script->requestIds.size() + 1));
        return m_script->requestIds.last();
    }

private:
    static void throwIfSet(std::optional<TavrineCoreError> &failure)
    {
        if (failure) {
            throw std::exchange(failure, std::nullopt).value();
        }
    }
    bool record(const char *call, const QString &argument)
    {
        m_script->calls.append(QLatin1String(call) + argument);
        return true;
    }
    template <typename T> static std::optional<T> take(std::deque<T> &queue)
    {
        if (queue.empty()) {
            return std::nullopt;
        }
        T value = std::move(queue.front());
        queue.pop_front();
        return value;
    }

    std::shared_ptr<Script> m_script;
    int m_startNumber;
};
