#pragma once

#include "LinkFixture.h"
#include "LinkedCoreFunctions.h"
#include "SecretServiceKeychain.h"
#include "StoreTestSupport.h"
#include "TransferClient.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <functional>

// A transfer store over the real core library, and a phone played with the core's client object over 127.0.0.1.
struct LinkedStoreFixture
{
    using RequestHandler = std::function<bool(const ManagementRequest &request, TransferClient &client)>;

    QTemporaryDir folder;
    std::shared_ptr<Keychain> keychain;
    std::shared_ptr<RecordingNotificationSink::Log> notifications = std::make_shared<RecordingNotificationSink::Log>();
    std::unique_ptr<TransferStore> store;
    std::unique_ptr<TransferClient> phone;
    QList<TransferEvent> phoneEvents;
    // Answers the phone gives, by action; a handler returns false to leave the request unanswered.
    QHash<QString, RequestHandler> handlers;

    // With `realKeyring`, the store keeps its trust in the test session's keyring; only one test
    // executable may do so, since the store's keyring items have fixed names.
    explicit LinkedStoreFixture(bool realKeyring = false)
        : keychain(realKeyring ? std::shared_ptr<Keychain>(std::make_shared<SecretServiceKeychain>())
                               : std::make_shared<InMemoryKeychain>())
    {
        installTavrineCoreFunctions(linkedCoreFunctionsWithRawNames());
        // Each fixture starts from an empty registry.
        registryStore().save(TrustedDeviceRegistry{});
    }

    QString receiveFolder() const { return folder.filePath(QStringLiteral("receive")); }
    QString phoneInbox() const { return folder.filePath(QStringLiteral("phone")); }
    TrustedDeviceRegistryStore registryStore() const
    {
        return TrustedDeviceRegistryStore(
            TransferCredentialStore(QStringLiteral("com.drovan.tavrine.transfer"), keychain));
    }

    // A file of `size` bytes at `relativePath` in the fixture's folder; `seed` makes its contents its own.
    QString makeFile(const QString &relativePath, qint64 size, int seed) const
    {
        QByteArray bytes(size, Qt::Uninitialized);
        for (qint64 index = 0; index < size; ++index) {
            bytes.data()[index] = char(index * 31 + seed * 7);
        }
        const QString path = folder.filePath(relativePath);
        QDir().mkpath(QFileInfo(path).path());
        return writeFile(path, bytes) ? path : QString();
    }

    QString makeFolder(const QString &relativePath) const
    {
        return QDir().mkpath(folder.filePath(relativePath)) ? folder.filePath(relativePath) : QString();
    }

    TransferStore &makeStore()
    {
        TransferStoreEnvironment environment;
        environment.keychain = keychain;
        environment.localAddress = std::make_shared<FixedLocalAddressProvider>(QStringLiteral("127.0.0.1"));
        environment.notifications =
            std::make_shared<TransferNotificationService>(std::make_unique<RecordingNotificationSink>(notifications));
        environment.receiveFolder = receiveFolder();
        environment.deviceName = QStringLiteral("Test computer");
        store.reset();
        store = std::make_unique<TransferStore>(
            TransferTaskRepository(folder.filePath(QStringLiteral("transfer-tasks-v1.json"))), environment);
        return *store;
    }

    // Lets both sides work: the store pumps itself; the phone is polled here.
    void pumpPhone()
    {
        while (const auto event = phone ? phone->pollEvent() : std::nullopt) {
            phoneEvents.append(*event);
        }
        while (const auto request = phone ? phone->pollManagementRequest() : std::nullopt) {
            const auto handler = handlers.constFind(request->action);
            if (handler == handlers.constEnd()) {
                phone->respondManagement(request->requestId, false, {}, QStringLiteral("unknown action"));
            } else {
                (*handler)(*request, *phone);
            }
        }
    }

    bool waitUntil(const std::function<bool()> &condition, int milliseconds = 20'000)
    {
        return QTest::qWaitFor(
            [&] {
                pumpPhone();
                return condition();
            },
            milliseconds);
    }

    bool waitForStatus(const QString &id, TransferTaskRecord::Status status, int milliseconds = 20'000)
    {
        return waitUntil([&] { return statusOf(*store, id) == status; }, milliseconds);
    }

    // Sends `path` from the phone as the answer to a "files.download" request, under `sentName` when given.
    static RequestHandler sendFileOnDownload(const QString &path, const QString &sentName = {})
    {
        return [path, sentName](const ManagementRequest &request, TransferClient &client) {
            const QJsonObject payload = QJsonDocument::fromJson(request.payload.toUtf8()).object();
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                return client.respondManagement(request.requestId, false, {}, QStringLiteral("missing"));
            }
            client.sendFileDescriptorWithId(file.handle(), sentName.isEmpty() ? QFileInfo(path).fileName() : sentName,
                                            uint64_t(file.size()),
                                            payload.value(QStringLiteral("transferId")).toString());
            return client.respondManagement(request.requestId, true, QStringLiteral("{}"), {});
        };
    }

    bool phoneSaw(TransferEventKind kind, const QString &transferId = {}) const
    {
        return countEvents(phoneEvents, kind, transferId) > 0;
    }

    // The port the store's host listens on, from its pairing URL.
    quint16 hostPort() const
    {
        return pairingItem(store->pairingPayload().value_or(QString()), QStringLiteral("endpoint"))
            .section(QLatin1Char(':'), -1)
            .toUShort();
    }

    // A new pairing from the store's pairing URL, confirmed on the phone. With `relayPort`, the phone
    // reaches the host through a relay on that port instead.
    bool pair(quint16 relayPort = 0)
    {
        store->beginNewPairing();
        if (!store->pairingPayload()) {
            return false;
        }
        QString url = *store->pairingPayload();
        if (relayPort != 0) {
            url = withPairingItem(url, QStringLiteral("endpoint"), QStringLiteral("127.0.0.1:%1").arg(relayPort));
        }
        phone = TransferClient::connect(url, {}, QStringLiteral("Test phone"), phoneInbox());
        // Both sides show the code before the phone confirms it.
        if (!waitUntil([&] {
                return store->phase().kind == TransferStore::Phase::Kind::awaitingConfirmation &&
                       phoneSaw(TransferEventKind::awaitingConfirmation);
            })) {
            return false;
        }
        phone->confirmPairing();
        return waitUntil([&] { return store->phase().kind == TransferStore::Phase::Kind::connected; });
    }
};
