#include "GioCalls.h"
#include "SecretServiceKeychain.h"

#include <QTest>
#include <QUuid>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr char servicePath[] = "/org/freedesktop/secrets";
constexpr char serviceInterface[] = "org.freedesktop.Secret.Service";

// The session's Secret Service, for what the keychain cannot do: make a collection of the test's own that it
// can lock without a prompt, and remove the test's items afterwards.
struct SecretServiceBus
{
    using Reply = std::unique_ptr<gio::Variant, decltype(&gio::g_variant_unref)>;

    // The reply, or none on failure. The call takes over the parameters.
    Reply call(const char *objectPath, const char *interfaceName, const char *methodName,
               gio::Variant *parameters = nullptr)
    {
        gio::Error *error = nullptr;
        gio::Variant *reply =
            connection
                ? gio::g_dbus_connection_call_sync(connection, "org.freedesktop.secrets", objectPath, interfaceName,
                                                   methodName, parameters, nullptr, 0, 10000, nullptr, &error)
                : nullptr;
        if (error) {
            lastError = QString::fromUtf8(error->message);
            gio::g_error_free(error);
        }
        return Reply(reply, gio::g_variant_unref);
    }

    // A plain session sends the password as it is; it belongs to this connection, so it is opened here.
    QByteArray openPlainSession()
    {
        const Reply reply =
            call(servicePath, serviceInterface, "OpenSession", gio::g_variant_new_parsed("('plain', <''>)"));
        const char *path = "";
        if (reply)
            gio::g_variant_get(reply.get(), "(v&o)", nullptr, &path);
        return path;
    }

    // The session bus is shared within the process and stays open to its end.
    gio::Connection *connection = gio::g_bus_get_sync(2 /* G_BUS_TYPE_SESSION */, nullptr, nullptr);
    QString lastError;
    QByteArray sessionPath = openPlainSession();
};

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
            QVERIFY2(m_bus.call(m_lockedCollection.constData(), "org.freedesktop.Secret.Collection", "Delete"),
                     qPrintable(m_bus.lastError));
        const auto reply = m_bus.call(servicePath, serviceInterface, "SearchItems",
                                      gio::g_variant_new_parsed("({'service': %s},)", m_service.toUtf8().constData()));
        QVERIFY2(reply, qPrintable(m_bus.lastError));
        const char **unlocked = nullptr;
        gio::g_variant_get(reply.get(), "(^a&oao)", &unlocked, nullptr);
        for (const char **path = unlocked; *path; ++path)
            QVERIFY2(m_bus.call(*path, "org.freedesktop.Secret.Item", "Delete"), qPrintable(m_bus.lastError));
        gio::g_free(unlocked);
    }

    void addsUpdatesAndReadsItems()
    {
        SecretServiceKeychain keychain;
        const QByteArray binary("a\0b\xff", 4);

        QCOMPARE(keychain.copyMatching(m_service, u"alpha"_s).status, Keychain::itemNotFound);
        QCOMPARE(keychain.update(m_service, u"alpha"_s, "eins"), Keychain::itemNotFound);
        QCOMPARE(keychain.add(m_service, u"alpha"_s, "eins"), Keychain::success);
        QCOMPARE(keychain.copyMatching(m_service, u"alpha"_s).data, QByteArray("eins"));
        QCOMPARE(keychain.update(m_service, u"alpha"_s, binary), Keychain::success);
        QCOMPARE(keychain.copyMatching(m_service, u"alpha"_s).data, binary);
        QCOMPARE(keychain.copyMatching(m_service, u"beta"_s).status, Keychain::itemNotFound);
        QCOMPARE(keychain.copyMatching(m_service + u".other"_s, u"alpha"_s).status, Keychain::itemNotFound);

        // An empty item reads back as empty, which the credential store then refuses as damaged.
        QCOMPARE(keychain.add(m_service, u"empty"_s, {}), Keychain::success);
        QCOMPARE(keychain.copyMatching(m_service, u"empty"_s).status, Keychain::success);
    }

    // A locked collection answers every operation at once, without a prompt and without unlocking it (a call
    // that waited for a prompt would never return, and the test's time limit would fail it).
    void lockedCollectionAnswersInteractionNotAllowed()
    {
        // The password never matters: the collection is only ever locked, never unlocked.
        const auto reply = m_bus.call(
            servicePath, "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface", "CreateWithMasterPassword",
            gio::g_variant_new_parsed(
                "({'org.freedesktop.Secret.Collection.Label': <%s>}, (%o, @ay [], b'test', 'text/plain'))",
                (u"Tavrine test "_s + uniqueName()).toUtf8().constData(), m_bus.sessionPath.constData()));
        QVERIFY2(reply, qPrintable(m_bus.lastError));
        const char *path = nullptr;
        gio::g_variant_get(reply.get(), "(&o)", &path);
        m_lockedCollection = path;

        const auto keychain = std::make_unique<SecretServiceKeychain>(QString::fromUtf8(m_lockedCollection));
        QCOMPARE(keychain->add(m_service, u"alpha"_s, "eins"), Keychain::success);
        QCOMPARE(keychain->copyMatching(m_service, u"alpha"_s).data, QByteArray("eins"));

        QVERIFY2(m_bus.call(servicePath, serviceInterface, "Lock",
                            gio::g_variant_new_parsed("([%o],)", m_lockedCollection.constData())),
                 qPrintable(m_bus.lastError));
        QCOMPARE(keychain->copyMatching(m_service, u"alpha"_s).status, Keychain::interactionNotAllowed);
        QCOMPARE(keychain->copyMatching(m_service, u"never-written"_s).status, Keychain::interactionNotAllowed);
        QCOMPARE(keychain->update(m_service, u"alpha"_s, "zwei"), Keychain::interactionNotAllowed);
        QCOMPARE(keychain->add(m_service, u"beta"_s, "zwei"), Keychain::interactionNotAllowed);
    }

    // A collection that does not exist, and a path that is none; the second is refused before the service.
    void otherServiceFailuresCarryTheServiceMessage()
    {
        for (const QString &collectionPath : {u"/org/freedesktop/secrets/collection/tavrine_missing"_s, u"no path"_s}) {
            SecretServiceKeychain keychain(collectionPath);
            QCOMPARE(keychain.copyMatching(m_service, u"alpha"_s).status, SecretServiceKeychain::serviceFailure);
            QVERIFY(!keychain.messageForStatus(SecretServiceKeychain::serviceFailure).isEmpty());
        }
    }

private:
    SecretServiceBus m_bus;
    const QString m_service = u"com.drovan.tavrine.test."_s + uniqueName();
    QByteArray m_lockedCollection;
};

QTEST_GUILESS_MAIN(SecretServiceKeychainTest)
#include "test_secret_service_keychain.moc"
