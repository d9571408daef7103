#include "SecretServiceKeychain.h"

#include <QTest>
#include <QUuid>

#include <chrono>
#include <cstdarg>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

using Account = TransferCredentialStore::Account;

// The tests of this folder do not get GLib's include path (only its libraries, through core_link), so
// the few GIO calls used here are declared by hand, exactly as GLib 2 declares them. Enumerations are
// passed as their int values; the types stay opaque apart from GError's public fields.
namespace gio {
struct Connection;
struct Variant;
struct Error
{
    uint32_t domain;
    int code;
    char *message;
};

extern "C" {
Connection *g_bus_get_sync(int busType, void *cancellable, Error **error);
Variant *g_dbus_connection_call_sync(Connection *connection, const char *busName, const char *objectPath,
                                     const char *interfaceName, const char *methodName, Variant *parameters,
                                     const void *replyType, int flags, int timeoutMilliseconds, void *cancellable,
                                     Error **error);
Variant *g_variant_new_parsed_va(const char *format, va_list *arguments);
void g_variant_get(Variant *value, const char *format, ...);
void g_variant_unref(Variant *value);
void g_free(void *memory);
void g_error_free(Error *error);
void g_object_unref(void *object);
}
} // namespace gio

namespace {

constexpr auto operationLimit = 20s;
constexpr char servicePath[] = "/org/freedesktop/secrets";
constexpr char serviceInterface[] = "org.freedesktop.Secret.Service";

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

// The Secret Service keychain with every call bounded.
class BoundedKeychain : public Keychain
{
public:
    explicit BoundedKeychain(const QString &collectionPath = {})
        : m_keychain(std::make_shared<SecretServiceKeychain>(collectionPath))
    {}

    CopyResult copyMatching(const QString &service, const QString &account) override
    {
        return bounded([=, keychain = m_keychain] { return keychain->copyMatching(service, account); });
    }
    int32_t update(const QString &service, const QString &account, const QByteArray &data) override
    {
        return bounded([=, keychain = m_keychain] { return keychain->update(service, account, data); });
    }
    int32_t add(const QString &service, const QString &account, const QByteArray &data) override
    {
        return bounded([=, keychain = m_keychain] { return keychain->add(service, account, data); });
    }
    QString messageForStatus(int32_t status) const override { return m_keychain->messageForStatus(status); }

private:
    std::shared_ptr<SecretServiceKeychain> m_keychain;
};

// Reaches the session's Secret Service directly, for what the keychain interface cannot do: make a
// collection of the test's own that it can lock (without a prompt, through the keyring daemon's
// master-password call), and remove the test's items afterwards.
class SecretServiceBus
{
public:
    SecretServiceBus()
    {
        gio::Error *error = nullptr;
        m_connection = gio::g_bus_get_sync(2 /* G_BUS_TYPE_SESSION */, nullptr, &error);
        if (!m_connection) {
            lastError = QString::fromUtf8(error->message);
            gio::g_error_free(error);
            return;
        }
        // A plain session sends the password as it is; it belongs to this connection, so it is opened here.
        if (const Reply reply = call(servicePath, serviceInterface, "OpenSession", "('plain', <''>)")) {
            const char *path = nullptr;
            gio::g_variant_get(reply.get(), "(v&o)", nullptr, &path);
            sessionPath = path;
        }
    }
    ~SecretServiceBus()
    {
        if (m_connection)
            gio::g_object_unref(m_connection);
    }
    SecretServiceBus(const SecretServiceBus &) = delete;
    SecretServiceBus &operator=(const SecretServiceBus &) = delete;

    using Reply = std::unique_ptr<gio::Variant, decltype(&gio::g_variant_unref)>;

    // parameters: GVariant text with the arguments that follow, or nullptr. The reply, or none on failure.
    Reply call(const char *objectPath, const char *interfaceName, const char *methodName, const char *parameters, ...)
    {
        if (!m_connection)
            return Reply(nullptr, gio::g_variant_unref);
        va_list arguments;
        va_start(arguments, parameters);
        gio::Variant *parameterValue = parameters ? gio::g_variant_new_parsed_va(parameters, &arguments) : nullptr;
        va_end(arguments);
        gio::Error *error = nullptr;
        gio::Variant *reply =
            gio::g_dbus_connection_call_sync(m_connection, "org.freedesktop.secrets", objectPath, interfaceName,
                                             methodName, parameterValue, nullptr, 0, 10000, nullptr, &error);
        if (!reply) {
            lastError = QString::fromUtf8(error->message);
            gio::g_error_free(error);
        }
        return Reply(reply, gio::g_variant_unref);
    }

    QByteArray sessionPath;
    QString lastError;

private:
    gio::Connection *m_connection = nullptr;
};

QString failureOf(const std::function<void()> &body)
{
    try {
        body();
    } catch (const TransferCredentialError &error) {
        return error.errorDescription();
    }
    return {};
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
        QVERIFY2(!m_bus.sessionPath.isEmpty(),
                 qPrintable(u"No Secret Service (run inside scripts/run-in-test-session.sh): "_s + m_bus.lastError));
    }

    void cleanupTestCase()
    {
        if (!m_lockedCollection.isEmpty())
            QVERIFY2(m_bus.call(m_lockedCollection.constData(), "org.freedesktop.Secret.Collection", "Delete", nullptr),
                     qPrintable(m_bus.lastError));
        const auto reply = m_bus.call(servicePath, serviceInterface, "SearchItems", "({'service': %s},)",
                                      m_service.toUtf8().constData());
        QVERIFY2(reply, qPrintable(m_bus.lastError));
        const char **unlocked = nullptr;
        gio::g_variant_get(reply.get(), "(^a&oao)", &unlocked, nullptr);
        for (const char **path = unlocked; *path; ++path)
            QVERIFY2(m_bus.call(*path, "org.freedesktop.Secret.Item", "Delete", nullptr), qPrintable(m_bus.lastError));
        gio::g_free(unlocked);
    }

    void addsUpdatesAndReadsItems()
    {
        BoundedKeychain keychain;
        const QByteArray binary("a\0b\xff", 4);

        QCOMPARE(keychain.copyMatching(m_service, u"alpha"_s).status, Keychain::itemNotFound);
        QCOMPARE(keychain.update(m_service, u"alpha"_s, "eins"), Keychain::itemNotFound);
        QCOMPARE(keychain.add(m_service, u"alpha"_s, "eins"), Keychain::success);
        QCOMPARE(keychain.copyMatching(m_service, u"alpha"_s).data, QByteArray("eins"));
        QCOMPARE(keychain.update(m_service, u"alpha"_s, binary), Keychain::success);
        const Keychain::CopyResult updated = keychain.copyMatching(m_service, u"alpha"_s);
        QCOMPARE(updated.status, Keychain::success);
        QCOMPARE(updated.data, binary);
        QCOMPARE(keychain.copyMatching(m_service, u"beta"_s).status, Keychain::itemNotFound);
        QCOMPARE(keychain.copyMatching(m_service + u".other"_s, u"alpha"_s).status, Keychain::itemNotFound);

        // An empty item reads back as empty, which the credential store then refuses as damaged.
        QCOMPARE(keychain.add(m_service, u"empty"_s, {}), Keychain::success);
        const Keychain::CopyResult empty = keychain.copyMatching(m_service, u"empty"_s);
        QCOMPARE(empty.status, Keychain::success);
        QCOMPARE(empty.data, QByteArray());
    }

    // A locked collection answers every operation at once, without a prompt and without unlocking it.
    void lockedCollectionAnswersInteractionNotAllowed()
    {
        // The password never matters: the collection is only ever locked, never unlocked.
        const auto reply = m_bus.call(
            servicePath, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "CreateWithMasterPassword",
            "({'org.freedesktop.Secret.Collection.Label': <%s>}, (%o, @ay [], b'test', 'text/plain'))",
            (u"Tavrine test "_s + uniqueName()).toUtf8().constData(), m_bus.sessionPath.constData());
        QVERIFY2(reply, qPrintable(m_bus.lastError));
        const char *path = nullptr;
        gio::g_variant_get(reply.get(), "(&o)", &path);
        m_lockedCollection = path;

        auto keychain = std::make_shared<BoundedKeychain>(QString::fromUtf8(m_lockedCollection));
        QCOMPARE(keychain->add(m_service, u"alpha"_s, "eins"), Keychain::success);
        QCOMPARE(keychain->copyMatching(m_service, u"alpha"_s).data, QByteArray("eins"));

        QVERIFY2(m_bus.call(servicePath, serviceInterface, "Lock", "([%o],)", m_lockedCollection.constData()),
                 qPrintable(m_bus.lastError));
        QCOMPARE(keychain->copyMatching(m_service, u"alpha"_s).status, Keychain::interactionNotAllowed);
        QCOMPARE(keychain->copyMatching(m_service, u"never-written"_s).status, Keychain::interactionNotAllowed);
        QCOMPARE(keychain->update(m_service, u"alpha"_s, "zwei"), Keychain::interactionNotAllowed);
        QCOMPARE(keychain->add(m_service, u"beta"_s, "zwei"), Keychain::interactionNotAllowed);

        const TransferCredentialStore store(m_service, keychain);
        const QString unlockText = u"无法读取 Tavrine 安全身份，请先解锁“登录”钥匙串后重试。"_s;
        QCOMPARE(failureOf([&] { store.read(Account::hostIdentity); }), unlockText);
        QCOMPARE(failureOf([&] { store.write(u"x"_s, Account::hostIdentity); }), unlockText);
    }

    // A collection that does not exist, and a path that is none; the second is refused before the service.
    void otherServiceFailuresCarryTheServiceMessage()
    {
        for (const QString &collectionPath : {u"/org/freedesktop/secrets/collection/tavrine_missing"_s, u"no path"_s}) {
            auto keychain = std::make_shared<BoundedKeychain>(collectionPath);
            const TransferCredentialStore store(m_service, keychain);
            const QString failure = failureOf([&] { store.read(Account::hostIdentity); });
            QVERIFY(!failure.isEmpty());
            QCOMPARE(failure, keychain->messageForStatus(SecretServiceKeychain::serviceFailure));
        }
    }

private:
    SecretServiceBus m_bus;
    const QString m_service = u"com.drovan.tavrine.test."_s + uniqueName();
    QByteArray m_lockedCollection;
};

QTEST_GUILESS_MAIN(SecretServiceKeychainTest)
#include "test_secret_service_keychain.moc"
