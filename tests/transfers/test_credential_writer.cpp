#include "CredentialWriter.h"
#include "InMemoryKeychain.h"
#include "TestSupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;
using Account = TransferCredentialStore::Account;

class CredentialWriterTest : public QObject
{
    Q_OBJECT

private slots:
    void writes_data()
    {
        // The keychain's answers to the calls of the first batch (each write is an update, then an add of an item
        // not found; the secret, then the name); the outcome of that batch; the accounts written by a second batch of
        // the same two texts.
        const TestTable<QList<int32_t>, QString, QStringList> rows;
        rows("both kept: nothing again", {}, {}, {});
        rows("the first refused: the rest waits, all go again", {Keychain::interactionNotAllowed},
             u"无法读取 Tavrine 安全身份，请先解锁“登录”密钥环后重试。"_s,
             {u"trusted-peer-secret-v1"_s, u"trusted-peer-name-v1"_s});
        rows("the second refused: it goes again",
             {Keychain::success, Keychain::success, Keychain::interactionNotAllowed},
             u"无法读取 Tavrine 安全身份，请先解锁“登录”密钥环后重试。"_s, {u"trusted-peer-name-v1"_s});
    }

    // An item is written again only when it may not hold its text: after a failure its state is unknown.
    void writes()
    {
        const auto [answers, outcome, rewritten] = TestTable<QList<int32_t>, QString, QStringList>::fetch();
        const auto keychain = std::make_shared<InMemoryKeychain>();
        for (const int32_t answer : answers) {
            keychain->answerNextCall(answer);
        }
        CredentialWriter writer(TransferCredentialStore(u"service"_s, keychain));
        const QList<CredentialWriter::Item> items{{Account::trustedPeerSecret, u"secret"_s},
                                                  {Account::trustedPeerName, u"Pixel"_s}};
        QCOMPARE(writer.writeAndWait(items).value_or(QString()), outcome);
        const qsizetype callsBefore = keychain->calls().size();
        QCOMPARE(writer.writeAndWait(items), std::nullopt);
        QStringList accounts;
        for (const QString &call : keychain->calls().mid(callsBefore)) {
            accounts.append(call.section(u' ', 1));
        }
        accounts.removeDuplicates();
        QCOMPARE(accounts, rewritten);
        QCOMPARE(keychain->item(u"service"_s, u"trusted-peer-name-v1"_s), QByteArray("Pixel"));
    }

    // Batches are written in the order they were asked for; the callback of each comes on the context's thread.
    void batchesKeepTheirOrder()
    {
        const auto keychain = std::make_shared<InMemoryKeychain>();
        CredentialWriter writer(TransferCredentialStore(u"service"_s, keychain));
        QObject context;
        QStringList finished;
        for (const QString &name : {u"one"_s, u"two"_s, u"three"_s}) {
            writer.write({{Account::trustedPeerName, name}}, &context, [&finished, name] { finished.append(name); });
        }
        writer.noteStored({Account::trustedPeerSecret, u"kept"_s});
        writer.writeAndWait({{Account::trustedPeerSecret, u"kept"_s}});
        QCOMPARE(keychain->item(u"service"_s, u"trusted-peer-name-v1"_s), QByteArray("three"));
        QVERIFY(!keychain->item(u"service"_s, u"trusted-peer-secret-v1"_s));
        QTRY_COMPARE(finished, (QStringList{u"one"_s, u"two"_s, u"three"_s}));
    }
};

QTEST_GUILESS_MAIN(CredentialWriterTest)
#include "test_credential_writer.moc"
