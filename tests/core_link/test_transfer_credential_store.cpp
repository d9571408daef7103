#include "InMemoryKeychain.h"
#include "TransferCredentialStore.h"

#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

using Account = TransferCredentialStore::Account;
using ErrorCase = TransferCredentialError::Case;

Q_DECLARE_METATYPE(Account)

namespace {

const QString service = u"com.drovan.tavrine.transfer"_s;

template <typename Body> std::optional<TransferCredentialError> credentialErrorOf(Body &&body)
{
    try {
        body();
    } catch (const TransferCredentialError &error) {
        return error;
    }
    return std::nullopt;
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

    void readOfAnAccountNeverWrittenGivesNothing() { QCOMPARE(m_store->read(Account::hostIdentity), std::nullopt); }

    void textsAreKeptUnderTheExactAccountNames_data()
    {
        QTest::addColumn<Account>("account");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");

        QTest::newRow("host identity") << Account::hostIdentity << u"host-identity-v1"_s << u"小米 14 的密钥"_s;
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

        m_store->write(text, account);
        QCOMPARE(m_keychain->item(service, name), std::optional(text.toUtf8()));
        QCOMPARE(m_keychain->itemCount(), 1);
        QCOMPARE(m_store->read(account), std::optional(text));
    }

    void firstWriteAddsAndSecondWriteUpdates()
    {
        m_store->write(u"first"_s, Account::hostIdentity);
        m_store->write(u"second"_s, Account::hostIdentity);

        QCOMPARE(m_keychain->calls(),
                 QStringList({u"update host-identity-v1"_s, u"add host-identity-v1"_s, u"update host-identity-v1"_s}));
        QCOMPARE(m_store->read(Account::hostIdentity), std::optional(u"second"_s));
    }

    void storedDataThatIsNotTextIsInvalidRecord_data()
    {
        QTest::addColumn<QByteArray>("data");

        QTest::newRow("invalid UTF-8 byte") << QByteArray("abc\xff");
        QTest::newRow("truncated sequence") << QByteArray("abc\xe5\xb0");
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80");
    }

    void storedDataThatIsNotTextIsInvalidRecord()
    {
        QFETCH(QByteArray, data);

        m_keychain->setItem(service, u"host-identity-v1"_s, data);
        const auto error = credentialErrorOf([&] { m_store->read(Account::hostIdentity); });
        QCOMPARE(error, TransferCredentialError::invalidRecord());
        QCOMPARE(m_keychain->item(service, u"host-identity-v1"_s), std::optional(data));
    }

    void emptyTextIsWrittenButReadsAsInvalidRecord()
    {
        m_store->write(QString(), Account::trustedPeerSecret);
        QCOMPARE(m_keychain->item(service, u"trusted-peer-secret-v1"_s), std::optional(QByteArray()));
        const auto error = credentialErrorOf([&] { m_store->read(Account::trustedPeerSecret); });
        QCOMPARE(error, TransferCredentialError::invalidRecord());
        QCOMPARE(error->errorDescription(), u"钥匙串中的 Tavrine 安全身份已损坏，请重新配对。"_s);
    }

    void unpairedSurrogateIsRefusedBeforeTheKeychain()
    {
        const auto error =
            credentialErrorOf([&] { m_store->write(u"secret"_s + QChar(0xD800), Account::hostIdentity); });
        QCOMPARE(error, TransferCredentialError::encoding());
        QCOMPARE(error->errorDescription(), u"无法安全保存设备身份。"_s);
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
        QTest::newRow("read, no message") << false << QList{-4} << QString() << u"钥匙串错误（-4）"_s;
        QTest::newRow("add, duplicate item") << true << QList{-25300, -25299} << QString() << u"钥匙串错误（-25299）"_s;
    }

    void keychainFailuresCarryTheirStatusAndText()
    {
        QFETCH(bool, writing);
        QFETCH(QList<int>, answers);
        QFETCH(QString, platformMessage);
        QFETCH(QString, description);

        const QString account = u"host-identity-v1"_s;
        m_keychain->setItem(service, account, "previous");
        for (int status : answers)
            m_keychain->answerNextCall(status);
        if (!platformMessage.isEmpty())
            m_keychain->setMessage(answers.last(), platformMessage);

        const auto error = credentialErrorOf([&] {
            if (writing)
                m_store->write(u"new"_s, Account::hostIdentity);
            else
                m_store->read(Account::hostIdentity);
        });
        QVERIFY(error);
        QCOMPARE(error->errorCase(), ErrorCase::keychain);
        QCOMPARE(error->status(), answers.last());
        QCOMPARE(error->errorDescription(), description);
        QCOMPARE(QString::fromUtf8(error->what()), description);
        QCOMPARE(m_keychain->calls().size(), answers.size());
        // A failed write leaves the previous value in place.
        QCOMPARE(m_keychain->item(service, account), std::optional(QByteArray("previous")));
    }

private:
    std::shared_ptr<InMemoryKeychain> m_keychain;
    std::unique_ptr<TransferCredentialStore> m_store;
};

QTEST_GUILESS_MAIN(TransferCredentialStoreTest)
#include "test_transfer_credential_store.moc"
