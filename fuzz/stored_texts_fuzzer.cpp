// What the application reads back from the keyring and the disk: the host's identity material, the phone's
// connection material, the inbox's journal of received files, the trusted-device registry and the task file. Damaged
// text must fail with the reader's error, and whatever is read must survive being written and read again.
#include "FuzzCheck.h"
#include "Identity.h"
#include "InboxManifest.h"
#include "TransferCredentialStore.h"
#include "TransferTaskRecord.h"
#include "TrustedDeviceRegistryStore.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>

using namespace tavrine::core;

namespace {

// One item per account, in memory, so that every input reaches the registry store as a keyring item would.
class MemoryKeychain : public Keychain
{
public:
    QHash<QString, QByteArray> items;

    CopyResult copyMatching(const QString &, const QString &account) override
    {
        const auto item = items.constFind(account);
        return item == items.cend() ? CopyResult{itemNotFound, {}} : CopyResult{success, *item};
    }
    int32_t update(const QString &, const QString &account, const QByteArray &data) override
    {
        if (!items.contains(account))
            return itemNotFound;
        items.insert(account, data);
        return success;
    }
    int32_t add(const QString &, const QString &account, const QByteArray &data) override
    {
        items.insert(account, data);
        return success;
    }
    QString messageForStatus(int32_t) const override { return {}; }
};

void readIdentityMaterial(const std::string &text)
{
    std::optional<HostIdentity> identity;
    try {
        identity = HostIdentity::fromMaterial(text);
    } catch (const std::exception &) {
        return;
    }
    const HostIdentity again = HostIdentity::fromMaterial(identity->material());
    requirePromise(again.publicKeyText() == identity->publicKeyText() && again.port() == identity->port(),
                   "identity material written again reads back as the same key and port");
}

void readConnectionMaterial(const std::string &text)
{
    std::optional<ConnectionMaterial> material;
    try {
        material = ConnectionMaterial::parse(text);
    } catch (const std::exception &) {
        return;
    }
    const ConnectionMaterial again = ConnectionMaterial::parse(material->text());
    requirePromise(again.endpoint == material->endpoint && again.hostKey == material->hostKey &&
                       again.hostId == material->hostId && again.hostName == material->hostName &&
                       again.phoneId == material->phoneId && again.secret == material->secret,
                   "connection material written again reads back the same");
}

void readRegistry(const QByteArray &bytes)
{
    const auto keychain = std::make_shared<MemoryKeychain>();
    const QString account =
        TransferCredentialStore::accountName(TransferCredentialStore::Account::trustedDeviceRegistry);
    keychain->items.insert(account, bytes);
    const TrustedDeviceRegistryStore store(TransferCredentialStore(QStringLiteral("fuzz"), keychain));
    std::optional<TrustedDeviceRegistry> registry;
    try {
        registry = store.load();
    } catch (const TrustedDeviceRegistryError &) {
        return;
    } catch (const TransferCredentialError &) {
        return;
    } catch (const TrustedDeviceDecodingError &) {
        return;
    }
    store.save(*registry);
    requirePromise(store.load() == *registry, "a registry that loads is saved as the same registry");
}

// The task file as the repository reads it, without the file: a JSON array whose objects decode one by one.
void readTaskFile(const QByteArray &bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    const QJsonArray tasks = document.array();
    for (const QJsonValue &task : tasks) {
        std::optional<TransferTaskRecord> record;
        try {
            record = TransferTaskRecord::fromJson(task.toObject());
        } catch (const TransferTaskRecordDecodingError &) {
            continue;
        }
        const QByteArray saved = QJsonDocument(QJsonArray{record->toJson()}).toJson(QJsonDocument::Compact);
        const QJsonObject savedTask = QJsonDocument::fromJson(saved).array().first().toObject();
        try {
            requirePromise(TransferTaskRecord::fromJson(savedTask) == *record,
                           "a task record that loads is saved as the same record");
        } catch (const TransferTaskRecordDecodingError &error) {
            std::fprintf(stderr, "saved as %s: %s\n", saved.constData(), error.what());
            requirePromise(false, "a task record that loads is saved in a form that loads again");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    readIdentityMaterial(text);
    readConnectionMaterial(text);
    // The journal lies in a folder others may write to: whatever it holds parses to entries with usable names.
    std::map<std::string, InboxManifest::Entry> placing;
    for (const auto &[transferId, entry] : InboxManifest::parse(text, &placing)) {
        requirePromise(!transferId.empty() && !entry.fileName.empty() && entry.fileName != "." &&
                           entry.fileName != ".." && entry.fileName.find('/') == std::string::npos,
                       "a journal entry names a file of the inbox");
        const auto again = InboxManifest::parse(InboxManifest::line(transferId, entry));
        requirePromise(again.size() == 1 && again.begin()->first == transferId &&
                           again.begin()->second.fileName == entry.fileName &&
                           again.begin()->second.acknowledged == entry.acknowledged &&
                           again.begin()->second.identity == entry.identity,
                       "a journal entry written back reads as itself");
    }
    // A file being placed is looked for by its identity and recorded under a name of the inbox.
    for (const auto &[transferId, entry] : placing) {
        requirePromise(!transferId.empty() && entry.identity && !entry.fileName.empty() && entry.fileName != "." &&
                           entry.fileName != ".." && entry.fileName.find('/') == std::string::npos,
                       "a file being placed is known by its identity and names a file of the inbox");
        std::map<std::string, InboxManifest::Entry> again;
        requirePromise(InboxManifest::parse(InboxManifest::placingLine(transferId, entry), &again).empty() &&
                           again.size() == 1 && again.begin()->first == transferId &&
                           again.begin()->second.fileName == entry.fileName &&
                           again.begin()->second.identity == entry.identity,
                       "a file being placed written back reads as itself");
    }
    readRegistry(bytes);
    readTaskFile(bytes);
    return 0;
}
