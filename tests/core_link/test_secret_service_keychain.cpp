#include "SecretServiceKeychain.h"
#include "SecretServiceTestBus.h"
#include "TrustedDeviceRegistryStore.h"

#include <QTest>
#include <QUuid>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

using Account = TransferCredentialStore::Account;

namespace {

constexpr auto operationLimit = 20s;

// Runs body on a thread of its own and gives up after operationLimit, so that a keychain call that
// waits for a prompt fails the test instead of hanging it. body must own everything it uses.
template <typename Body> auto bounded(Body body)
{
    auto task = std::make_shared<std::packaged_task<decltype(body())()>>(std::move(body));
    auto result = task->get_future();
    std::thread([task] { (*task)(); }).detach();
    if (result.wait_for(operationLimit) != std::future_status::ready)
        throw std::runtime_error("A Secret Service call did not return in time; is it waiting for a prompt?");
    return result.get();
}

std::optional<TransferCredentialError> credentialErrorOf(const std::function<void()> &body)
{
    try {
        body();
    } catch (const TransferCredentialError &error) {
        return error;
    }
    return std::nullopt;
}

QString uniqueName()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

class SecretServiceKeychainTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_bus.isConnected(),
                 qPrintable(u"No session bus (run inside scripts/run-in-test-session.sh): "_s + m_bus.lastError()));
        m_defaultCollection = m_bus.defaultCollectionPath();
        QVERIFY2(!m_defaultCollection.isEmpty(), qPrintable(m_bus.lastError()));
    }

    void cleanupTestCase()
    {
        if (!m_lockedCollection.isEmpty())
            QVERIFY2(m_bus.deleteCollection(m_lockedCollection), qPrintable(m_bus.lastError()));
        QVERIFY2(m_bus.deleteItems(m_service) >= 0, qPrintable(m_bus.lastError()));
        QCOMPARE(m_bus.deleteItems(m_service), 0);
    }

    void addsUpdatesAndReadsItems()
    {
        auto keychain = std::make_shared<SecretServiceKeychain>();
        const QString service = m_service;
        auto copy = [=](const QString &serviceName, const QString &account) {
            return bounded([=] { return keychain->copyMatching(serviceName, account); });
        };
        auto update = [=](const QString &account, const QByteArray &data) {
            return bounded([=] { return keychain->update(service, account, data); });
        };
        auto add = [=](const QString &account, const QByteArray &data) {
            return bounded([=] { return keychain->add(service, account, data); });
        };
        const QByteArray binary("a\0b\xff", 4);

        QCOMPARE(copy(service, u"alpha"_s).status, Keychain::itemNotFound);
        QCOMPARE(update(u"alpha"_s, "eins"), Keychain::itemNotFound);
        QCOMPARE(add(u"alpha"_s, "eins"), Keychain::success);
        QCOMPARE(copy(service, u"alpha"_s).data, QByteArray("eins"));
        QCOMPARE(update(u"alpha"_s, binary), Keychain::success);

        const Keychain::CopyResult updated = copy(service, u"alpha"_s);
        QCOMPARE(updated.status, Keychain::success);
        QCOMPARE(updated.data, binary);
        QCOMPARE(copy(service, u"beta"_s).status, Keychain::itemNotFound);
        QCOMPARE(copy(service + u".other"_s, u"alpha"_s).status, Keychain::itemNotFound);
    }

    void storeKeepsTextsAndRefusesEmptyItems()
    {
        const TransferCredentialStore store(m_service, std::make_shared<SecretServiceKeychain>());

        QCOMPARE(bounded([=] { return store.read(Account::trustedPeerSecret); }), std::nullopt);
        bounded([=] {
            store.write(u"小米 14 的密钥"_s, Account::hostIdentity);
            return true;
        });
        QCOMPARE(bounded([=] { return store.read(Account::hostIdentity); }), std::optional(u"小米 14 的密钥"_s));

        bounded([=] {
            store.write(QString(), Account::trustedPeerName);
            return true;
        });
        const auto error = bounded([=] { return credentialErrorOf([&] { store.read(Account::trustedPeerName); }); });
        QCOMPARE(error, TransferCredentialError::invalidRecord());

        TrustedDeviceRegistry registry;
        registry.devices.append({u"6f9619ff-8b86-d011-b42d-00cf4fc964ff"_s, u"Pixel 8"_s, QString(32, u'S'),
                                 u"peer-1"_s, std::nullopt, QDateTime(QDate(2026, 3, 1), QTime(8, 15, 30), Qt::UTC),
                                 QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC)});
        registry.selectedDeviceID = registry.devices.first().id;
        const TrustedDeviceRegistryStore registryStore(store);
        bounded([=] {
            registryStore.save(registry);
            return true;
        });
        QCOMPARE(bounded([=] { return registryStore.load(); }), registry);
    }

    // A locked collection answers every operation at once, without a prompt and without unlocking it.
    void lockedCollectionAnswersInteractionNotAllowed()
    {
        m_lockedCollection = m_bus.createCollection(u"Tavrine test "_s + uniqueName(), "tavrine-locked-test");
        QVERIFY2(!m_lockedCollection.isEmpty(), qPrintable(m_bus.lastError()));
        QCOMPARE(m_bus.defaultCollectionPath(), m_defaultCollection);

        auto keychain = std::make_shared<SecretServiceKeychain>(m_lockedCollection);
        const QString service = m_service;
        QCOMPARE(bounded([=] { return keychain->add(service, u"alpha"_s, "eins"); }), Keychain::success);
        QCOMPARE(bounded([=] { return keychain->copyMatching(service, u"alpha"_s); }).data, QByteArray("eins"));

        QVERIFY2(m_bus.lockCollection(m_lockedCollection), qPrintable(m_bus.lastError()));

        QCOMPARE(bounded([=] { return keychain->copyMatching(service, u"alpha"_s); }).status,
                 Keychain::interactionNotAllowed);
        QCOMPARE(bounded([=] { return keychain->copyMatching(service, u"never-written"_s); }).status,
                 Keychain::interactionNotAllowed);
        QCOMPARE(bounded([=] { return keychain->update(service, u"alpha"_s, "zwei"); }),
                 Keychain::interactionNotAllowed);
        QCOMPARE(bounded([=] { return keychain->add(service, u"beta"_s, "zwei"); }), Keychain::interactionNotAllowed);

        const TransferCredentialStore store(service, keychain);
        const QString unlockText = u"无法读取 Tavrine 安全身份，请先解锁“登录”钥匙串后重试。"_s;
        const auto readError = bounded([=] { return credentialErrorOf([&] { store.read(Account::hostIdentity); }); });
        const auto writeError =
            bounded([=] { return credentialErrorOf([&] { store.write(u"x"_s, Account::hostIdentity); }); });
        for (const auto &error : {readError, writeError}) {
            QVERIFY(error);
            QCOMPARE(error->status(), Keychain::interactionNotAllowed);
            QCOMPARE(error->errorDescription(), unlockText);
        }
    }

    void otherServiceFailuresCarryTheServiceMessage_data()
    {
        QTest::addColumn<QString>("collectionPath");

        QTest::newRow("collection that does not exist") << u"/org/freedesktop/secrets/collection/tavrine_missing"_s;
        QTest::newRow("not an object path") << u"no path"_s;
    }

    void otherServiceFailuresCarryTheServiceMessage()
    {
        QFETCH(QString, collectionPath);

        auto keychain = std::make_shared<SecretServiceKeychain>(collectionPath);
        const TransferCredentialStore store(m_service, keychain);
        const auto error = bounded([=] { return credentialErrorOf([&] { store.read(Account::hostIdentity); }); });
        QVERIFY(error);
        QCOMPARE(error->status(), SecretServiceKeychain::serviceFailure);
        const QString message = keychain->messageForStatus(SecretServiceKeychain::serviceFailure);
        QVERIFY(!message.isEmpty());
        QCOMPARE(error->errorDescription(), message);
    }

private:
    SecretServiceTestBus m_bus;
    const QString m_service = u"com.drovan.tavrine.test."_s + uniqueName();
    QString m_defaultCollection;
    QString m_lockedCollection;
};

QTEST_GUILESS_MAIN(SecretServiceKeychainTest)
#include "test_secret_service_keychain.moc"
