#include "InMemoryKeychain.h"
#include "TransferCredentialStore.h"

#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

using Account = TransferCredentialStore::Account;

Q_DECLARE_METATYPE(Account)

namespace {

const QString service = u"com.drovan.tavrine.transfer"_s;
const QString hostAccount = u"host-identity-v1"_s;

// The description of the TransferCredentialError that body threw; empty when it threw none.
template <typename Body> QString failureOf(Body &&body)
{
    try {
        body();
    } catch (const TransferCredentialError &error) {
        return error.errorDescription();
    }
    return {};
}

} // namespace

class TransferCredentialStoreTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_keychain = std::make_shared<InMemoryKeychain>();
        m_store = std::make_unique<TransferCredentialStore>(service, m_keychain);
    }

    void textsAreKeptUnderTheExactAccountNames_data()
    {
        QTest::addColumn<Account>("account");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");

        QTest::newRow("host identity") << Account::hostIdentity << hostAccount << u"小米 14 的密钥"_s;
        QTest::newRow("legacy secret, byte order mark")
            << Account::trustedPeerSecret << u"trusted-peer-secret-v1"_s << u"\uFEFFvalue"_s;
        QTest::newRow("legacy name, whitespace")
            << Account::trustedPeerName << u"trusted-peer-name-v1"_s << u"  👨‍👩‍👧 \n"_s;
        QTest::newRow("registry") << Account::trustedDeviceRegistry << u"trusted-device-registry-v1"_s << u"{}"_s;
    }

    void textsAreKeptUnderTheExactAccountNames()
    {
        QFETCH(Account, account);
        QFETCH(QString, name);
        QFETCH(QString, text);

        QCOMPARE(m_store->read(account), std::nullopt);
        m_store->write(u"first"_s, account);
        m_store->write(text, account);
        QCOMPARE(m_keychain->calls(),
                 QStringList({u"copy "_s + name, u"update "_s + name, u"add "_s + name, u"update "_s + name}));
        QCOMPARE(m_keychain->item(service, name), std::optional(text.toUtf8()));
        QCOMPARE(m_keychain->itemCount(), 1);
        QCOMPARE(m_store->read(account), std::optional(text));
    }

    void itemsThatAreNotTextAreDamaged_data()
    {
        QTest::addColumn<QByteArray>("data");

        QTest::newRow("invalid UTF-8 byte") << QByteArray("abc\xff");
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80");
        QTest::newRow("empty") << QByteArray();
    }

    void itemsThatAreNotTextAreDamaged()
    {
        QFETCH(QByteArray, data);

        m_keychain->setItem(service, hostAccount, data);
        QCOMPARE(failureOf([&] { m_store->read(Account::hostIdentity); }),
                 u"钥匙串中的 Tavrine 安全身份已损坏，请重新配对。"_s);
        QCOMPARE(m_keychain->item(service, hostAccount), std::optional(data));
    }

    void unpairedSurrogateIsRefusedBeforeTheKeychain()
    {
        QCOMPARE(failureOf([&] { m_store->write(u"secret"_s + QChar(0xD800), Account::hostIdentity); }),
                 u"无法安全保存设备身份。"_s);
        QVERIFY(m_keychain->calls().isEmpty());
    }

    // "answers" are the statuses of the operation's keychain calls in order: a write is an update,
    // then an add when the update finds no item.
    void keychainFailuresCarryTheirStatusAndText_data()
    {
        QTest::addColumn<bool>("writing");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QString>("platformMessage");
        QTest::addColumn<QString>("description");

        const QString unlock = u"无法读取 Tavrine 安全身份，请先解锁“登录”钥匙串后重试。"_s;
        QTest::newRow("locked read") << false << QList{-25308} << QString() << unlock;
        QTest::newRow("locked update") << true << QList{-25308} << QString() << unlock;
        QTest::newRow("locked add") << true << QList{-25300, -25308} << QString() << unlock;
        QTest::newRow("read, platform message")
            << false << QList{-26000} << u"No such interface"_s << u"No such interface"_s;
        QTest::newRow("add, no message") << true << QList{-25300, -4} << QString() << u"钥匙串错误（-4）"_s;
    }

    void keychainFailuresCarryTheirStatusAndText()
    {
        QFETCH(bool, writing);
        QFETCH(QList<int>, answers);
        QFETCH(QString, platformMessage);
        QFETCH(QString, description);

        m_keychain->setItem(service, hostAccount, "previous");
        for (int status : answers)
            m_keychain->answerNextCall(status);
        m_keychain->setMessage(answers.last(), platformMessage);

        try {
            writing ? m_store->write(u"new"_s, Account::hostIdentity) : void(m_store->read(Account::hostIdentity));
            QFAIL("no error");
        } catch (const TransferCredentialError &error) {
            QCOMPARE(error.errorCase(), TransferCredentialError::Case::keychain);
            QCOMPARE(error.status(), answers.last());
            QCOMPARE(error.errorDescription(), description);
        }
        QCOMPARE(m_keychain->calls().size(), answers.size());
        // A failed write leaves the previous value in place.
        QCOMPARE(m_keychain->item(service, hostAccount), std::optional(QByteArray("previous")));
    }

private:
    std::shared_ptr<InMemoryKeychain> m_keychain;
    std::unique_ptr<TransferCredentialStore> m_store;
};

QTEST_GUILESS_MAIN(TransferCredentialStoreTest)
#include "test_transfer_credential_store.moc"
