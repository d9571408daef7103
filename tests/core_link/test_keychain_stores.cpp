#include "FakeTavrineCore.h"
#include "InMemoryKeychain.h"
#include "TestSupport.h"
#include "TrustedDeviceRegistryStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <QUuid>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;
using Account = TransferCredentialStore::Account;
using coretest::failureOf;

char *toString(const TrustedDeviceRegistry &registry)
{
    return QTest::toString(QJsonDocument(registry.toJson()).toJson(QJsonDocument::Compact));
}

namespace {

const QString service = u"com.drovan.tavrine.transfer"_s;
const QString registryAccount = u"trusted-device-registry-v1"_s;
const QString hostAccount = u"host-identity-v1"_s;
const QString invalidRecord = u"保存的可信设备记录无效，请重新配对。"_s;
const QString unlockText = u"无法读取 Tavrine 安全身份，请先解锁“登录”密钥环后重试。"_s;
const QDateTime created(QDate(2026, 3, 1), QTime(8, 15, 30), Qt::UTC);
const QString secret32(32, u'S');

QString uuid(int number)
{
    return u"00000000-0000-4000-8000-%1"_s.arg(number, 12, 10, QChar(u'0'));
}

TrustedDeviceRecord record(int number, const QString &name = {}, const std::optional<QString> &peerID = {})
{
    return {uuid(number),           name.isEmpty() ? u"Phone %1"_s.arg(number) : name, secret32, peerID, {}, created,
            created.addSecs(number)};
}

// count records, the first one selected, then changed by change.
TrustedDeviceRegistry registryOf(int count, const std::function<void(TrustedDeviceRegistry &)> &change = {})
{
    TrustedDeviceRegistry registry;
    for (int number = 1; number <= count; ++number)
        registry.devices.append(record(number));
    if (count > 0)
        registry.selectedDeviceID = uuid(1);
    if (change)
        change(registry);
    return registry;
}

TrustedDeviceRegistry withFirstRecord(const std::function<void(TrustedDeviceRecord &)> &change)
{
    return registryOf(2, [&](TrustedDeviceRegistry &registry) {
        change(registry.devices[0]);
        registry.selectedDeviceID = registry.devices[0].id;
    });
}

// A stored registry of one record with keys of the record replaced (an undefined value removes the key).
QByteArray storedWith(const QList<std::pair<QString, QJsonValue>> &changes)
{
    QJsonObject object = registryOf(1).toJson();
    QJsonObject device = object[u"devices"_s].toArray().at(0).toObject();
    for (const auto &[key, value] : changes) {
        if (value.isUndefined())
            device.remove(key);
        else
            device[key] = value;
    }
    object[u"devices"_s] = QJsonArray{device};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

using AccountTexts = TestTable<Account, QString, QString>;
using FailedCalls = TestTable<QByteArray, QString, QList<int>, QString, QString>;
using Registries = TestTable<TrustedDeviceRegistry, bool>;
using StoredJson = TestTable<QByteArray, TrustedDeviceRegistry, QString>;
using LegacyItems = TestTable<QByteArray, QByteArray, QList<int>, QString>;
using ReportedPeers = TestTable<std::optional<QString>, QString, QString>;

// The credential store's items in the keychain, and the trusted-device registry kept in one of them.
class KeychainStoresTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_keychain = std::make_shared<InMemoryKeychain>();
        m_credentials = TransferCredentialStore(service, m_keychain);
        m_store.emplace(m_credentials);
    }

    void textsAreKeptUnderTheExactAccountNames_data()
    {
        const AccountTexts rows;
        rows("host identity", Account::hostIdentity, hostAccount, u"小米 14 的密钥"_s);
        rows("legacy secret, byte order mark", Account::trustedPeerSecret, u"trusted-peer-secret-v1"_s,
             u"\uFEFFvalue"_s);
        rows("legacy name, whitespace", Account::trustedPeerName, u"trusted-peer-name-v1"_s,
             u"  👨‍👩‍👧 \n"_s);
    }

    void textsAreKeptUnderTheExactAccountNames()
    {
        const auto [account, name, text] = AccountTexts::fetch();
        QCOMPARE(m_credentials.read(account), std::nullopt);
        m_credentials.write(u"first"_s, account);
        m_credentials.write(text, account);
        QCOMPARE(m_keychain->calls(),
                 QStringList({u"copy "_s + name, u"update "_s + name, u"add "_s + name, u"update "_s + name}));
        QCOMPARE(m_keychain->item(service, name), std::optional(text.toUtf8()));
        QCOMPARE(m_keychain->itemCount(), 1);
        QCOMPARE(m_credentials.read(account), std::optional(text));
    }

    // stored: the item before the call; written: the text a write stores, null for a read; answers: the
    // statuses of the keychain calls in order (a write is an update, then an add when the update finds no
    // item).
    void failedCallsChangeNothing_data()
    {
        const FailedCalls rows;
        const QByteArray previous = "previous";
        const QString damaged = u"密钥环中的 Tavrine 安全身份已损坏，请重新配对。"_s;
        rows("invalid UTF-8 byte", QByteArray("abc\xff"), QString(), QList{0}, QString(), damaged);
        rows("encoded surrogate", QByteArray("\xed\xa0\x80"), QString(), QList{0}, QString(), damaged);
        rows("empty item", QByteArray(""), QString(), QList{0}, QString(), damaged);
        rows("unpaired surrogate, refused before the keychain", previous, u"secret"_s + QChar(0xD800), QList<int>(),
             QString(), u"无法安全保存设备身份。"_s);
        rows("locked read", previous, QString(), QList{-25308}, QString(), unlockText);
        rows("locked update", previous, u"new"_s, QList{-25308}, QString(), unlockText);
        rows("locked add", QByteArray(), u"new"_s, QList{-25300, -25308}, QString(), unlockText);
        rows("read, platform message", previous, QString(), QList{-26000}, u"No such interface"_s,
             u"No such interface"_s);
        rows("add, no message", QByteArray(), u"new"_s, QList{-25300, -4}, QString(), u"密钥环错误（-4）"_s);
    }

    void failedCallsChangeNothing()
    {
        const auto [stored, written, answers, platformMessage, description] = FailedCalls::fetch();
        if (!stored.isNull())
            m_keychain->setItem(service, hostAccount, stored);
        for (int status : answers)
            m_keychain->answerNextCall(status);
        m_keychain->setMessage(answers.value(answers.size() - 1), platformMessage);
        try {
            written.isNull() ? void(m_credentials.read(Account::hostIdentity))
                             : m_credentials.write(written, Account::hostIdentity);
            QFAIL("no error");
        } catch (const TransferCredentialError &error) {
            QCOMPARE(error.errorDescription(), description);
            if (answers.value(answers.size() - 1) != 0)
                QCOMPARE(error.status(), answers.last());
        }
        QCOMPARE(m_keychain->calls().size(), answers.size());
        QCOMPARE(m_keychain->item(service, hostAccount), stored.isNull() ? std::nullopt : std::optional(stored));
    }

    // Save refuses exactly what load refuses, so a saved registry is never lost on the next load.
    void saveAndLoadApplyTheSameRules_data()
    {
        const Registries rows;
        rows("empty", registryOf(0), true);
        rows("20 records", registryOf(20), true);
        rows("21 records", registryOf(21), false);
        rows("duplicate ids", registryOf(2, [](auto &r) { r.devices[1].id = uuid(1); }), false);
        rows("no selection", registryOf(2, [](auto &r) { r.selectedDeviceID.reset(); }), false);
        rows("selection of no record", registryOf(2, [](auto &r) { r.selectedDeviceID = uuid(3); }), false);
        rows("version 2", registryOf(1, [](auto &r) { r.version = 2; }), false);
        rows("id in braces", withFirstRecord([](auto &d) { d.id = u"{"_s + uuid(1) + u"}"_s; }), false);
        rows("upper-case id", withFirstRecord([](auto &d) { d.id = u"ABCDEF01-0000-4000-8000-0000000000FF"_s; }), true);
        rows("secret of 31", withFirstRecord([](auto &d) { d.secret.chop(1); }), false);
        rows("secret of 31 flags", withFirstRecord([](auto &d) { d.secret = u"🇨🇳"_s.repeated(31); }), false);
        rows("empty name", withFirstRecord([](auto &d) { d.name.clear(); }), false);

        for (const auto &[field, limit, member] : {std::tuple{"peerID", 128, &TrustedDeviceRecord::peerID},
                                                   std::tuple{"usbSerial", 256, &TrustedDeviceRecord::usbSerial}}) {
            auto with = [member = member](const QString &text) {
                return withFirstRecord([&](TrustedDeviceRecord &d) { d.*member = text; });
            };
            rows(QByteArray(field) + " empty", with(QString()), false);
            rows(QByteArray(field) + " at the limit", with(QString(limit, u'p')), true);
            rows(QByteArray(field) + " over the limit", with(QString(limit + 1, u'p')), false);
            rows(QByteArray(field) + " at the limit in combined letters", with(u"e\u0301"_s.repeated(limit)), true);
            rows(QByteArray(field) + " with a tab", with(u"abc\tdef"_s), false);
            rows(QByteArray(field) + " with a zero-width joiner", with(u"ab\u200Dc"_s), false);
        }
    }

    void saveAndLoadApplyTheSameRules()
    {
        const auto [registry, valid] = Registries::fetch();
        QCOMPARE(failureOf([&, &registry = registry] { m_store->save(registry); }), valid ? QString() : invalidRecord);
        QCOMPARE(m_keychain->itemCount(), valid ? 1 : 0);

        // The same registry as another writer may have stored it.
        m_keychain->setItem(service, registryAccount, QJsonDocument(registry.toJson()).toJson());
        TrustedDeviceRegistry loaded;
        QCOMPARE(failureOf([&] { loaded = m_store->load(); }), valid ? QString() : invalidRecord);
        if (valid)
            QCOMPARE(loaded, registry);
    }

    // Values JSON cannot carry unchanged would come back different, or not at all.
    void saveRefusesValuesThatCannotBeStored()
    {
        for (const auto &registry :
             {withFirstRecord([](auto &d) { d.createdAt = QDateTime(); }),
              withFirstRecord([](auto &d) { d.lastSeenAt = QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC); }),
              withFirstRecord([](auto &d) { d.name += QChar(0xDC00); })}) {
            QCOMPARE(failureOf([&] { m_store->save(registry); }), invalidRecord);
        }
        QCOMPARE(m_keychain->itemCount(), 0);
    }

    // What other writers may store; failure is the exact text of what load throws, empty when it loads.
    void loadsWhatOtherWritersStore_data()
    {
        const StoredJson rows;
        const QString prefix = u"The trusted-device registry "_s;
        rows("integer as real, null selection, unknown key",
             QByteArray(R"({"version":1.0,"selectedDeviceID":null,"devices":[],"extra":[1]})"), registryOf(0),
             QString());
        rows("null peer id, unknown record key, date with an offset",
             storedWith({{u"peerID"_s, QJsonValue::Null},
                         {u"colour"_s, u"blue"_s},
                         {u"createdAt"_s, u"2026-03-01T16:15:30+08:00"_s}}),
             registryOf(1), QString());
        rows("cut short", QByteArray(R"({"devices":[)"), registryOf(0),
             prefix + u"is not valid JSON: unterminated array at offset 12."_s);
        rows("version as text", QByteArray(R"({"version":"1","devices":[]})"), registryOf(0),
             prefix + u"has a value of the wrong type at “version”: expected an integer."_s);
        rows("record not an object", QByteArray(R"({"version":1,"devices":[1]})"), registryOf(0),
             prefix + u"has a value of the wrong type at “devices[0]”: expected an object."_s);
        rows("no secret", storedWith({{u"secret"_s, QJsonValue::Undefined}}), registryOf(0),
             prefix + u"has no value at “devices[0].secret”."_s);
        rows("null name", storedWith({{u"name"_s, QJsonValue::Null}}), registryOf(0),
             prefix + u"has no value at “devices[0].name”."_s);
        rows("name as a number", storedWith({{u"name"_s, 7}}), registryOf(0),
             prefix + u"has a value of the wrong type at “devices[0].name”: expected a string."_s);
        rows("date without a zone", storedWith({{u"createdAt"_s, u"2026-03-01T08:15:30"_s}}), registryOf(0),
             prefix + u"has a date that is not in ISO 8601 form at “devices[0].createdAt”."_s);
    }

    void loadsWhatOtherWritersStore()
    {
        const auto [json, loaded, failure] = StoredJson::fetch();
        m_keychain->setItem(service, registryAccount, json);
        TrustedDeviceRegistry registry;
        QCOMPARE(failureOf([&] { registry = m_store->load(); }), failure);
        QCOMPARE(registry, loaded);
        for (const TrustedDeviceRecord &device : registry.devices)
            QCOMPARE(device.createdAt.timeSpec(), Qt::UTC);
    }

    void writesCompactJsonWithSortedKeysAndWholeSeconds()
    {
        m_store->save(registryOf(2, [](TrustedDeviceRegistry &r) {
            r.devices[0].peerID = u"peer-1"_s;
            r.devices[0].usbSerial = u"R58M1"_s;
            r.devices[1].createdAt = created.addMSecs(999).toOffsetFromUtc(3600);
            r.selectedDeviceID = uuid(2);
        }));
        QCOMPARE(QString::fromUtf8(*m_keychain->item(service, registryAccount)),
                 uR"({"devices":[{"createdAt":"2026-03-01T08:15:30Z","id":"%1","lastSeenAt":"2026-03-01T08:15:31Z",)"
                 uR"("name":"Phone 1","peerID":"peer-1","secret":"%3","usbSerial":"R58M1"},)"
                 uR"({"createdAt":"2026-03-01T08:15:30Z","id":"%2","lastSeenAt":"2026-03-01T08:15:32Z",)"
                 uR"("name":"Phone 2","secret":"%3"}],"selectedDeviceID":"%2","version":1})"_s.arg(uuid(1), uuid(2),
                                                                                                   secret32));
        m_store->save(registryOf(0));
        QCOMPARE(m_keychain->item(service, registryAccount), QByteArray(R"({"devices":[],"version":1})"));
    }

    // answers: the statuses of the keychain calls in order (registry read, legacy reads, write), 0 runs normally.
    // expected: the migrated record's name, or the text that load throws (empty: nothing to migrate).
    void migratesTheSinglePhoneItems_data()
    {
        const LegacyItems rows;
        const QByteArray secret = secret32.toUtf8();
        rows("only a name", QByteArray(), QByteArray("小米 14"), QList<int>(), QString());
        rows("secret and name", secret, QByteArray("小米 14"), QList<int>(), u"小米 14"_s);
        rows("secret without a name", secret, QByteArray(), QList<int>(), u"Android 手机"_s);
        // It would give a registry that the next load refuses for good.
        rows("secret of 31", QByteArray(31, 'k'), QByteArray(), QList<int>(), invalidRecord);
        rows("locked at the migration save", secret, QByteArray(), QList{0, 0, 0, -25308}, unlockText);
    }

    void migratesTheSinglePhoneItems()
    {
        const auto [legacySecret, legacyName, answers, expected] = LegacyItems::fetch();
        if (!legacySecret.isEmpty())
            m_keychain->setItem(service, u"trusted-peer-secret-v1"_s, legacySecret);
        if (!legacyName.isEmpty())
            m_keychain->setItem(service, u"trusted-peer-name-v1"_s, legacyName);
        for (int status : answers)
            m_keychain->answerNextCall(status);
        const qsizetype legacyItems = m_keychain->itemCount();
        TrustedDeviceRegistry registry;
        const QString failure = failureOf([&] { registry = m_store->load(); });
        const bool migrated = !expected.isEmpty() && expected != invalidRecord && expected != unlockText;
        QCOMPARE(failure, migrated ? QString() : expected);
        // Saved beside the legacy items, which stay.
        QCOMPARE(m_keychain->itemCount(), legacyItems + (migrated ? 1 : 0));
        const TrustedDeviceRecord device = registry.devices.value(0);
        // Stamped at the migration, not left empty or taken from elsewhere; the bound allows for a busy machine.
        QVERIFY(qAbs(device.createdAt.secsTo(QDateTime::currentDateTimeUtc())) < 120);
        const QString id = QUuid::fromString(device.id).toString(QUuid::WithoutBraces);
        const TrustedDeviceRecord migratedDevice{
            id, expected, QString::fromUtf8(legacySecret), {}, {}, device.createdAt, device.createdAt};
        QCOMPARE(registry, migrated ? TrustedDeviceRegistry({1, id, {migratedDevice}}) : TrustedDeviceRegistry());
        if (migrated)
            QCOMPARE(m_store->load(), registry);
    }

    void selectionFallsBackAndMovesOnRemoval()
    {
        TrustedDeviceRegistry registry = registryOf(3);
        // A selection of no record, or none, falls back to the first record.
        registry.selectedDeviceID = uuid(9);
        QCOMPARE(registry.selectedDevice(), std::optional(record(1)));
        registry.selectedDeviceID.reset();
        QCOMPARE(registry.selectedDevice(), std::optional(record(1)));
        registry.select(uuid(8));
        QCOMPARE(registry.selectedDeviceID, std::nullopt);
        // Removing the selected record selects the first remaining one; removing another keeps the selection.
        registry.select(uuid(1));
        registry.removeDevice(uuid(1));
        QCOMPARE(registry.selectedDeviceID, std::optional(uuid(2)));
        registry.select(uuid(3));
        registry.removeDevice(uuid(2));
        QCOMPARE(registry.selectedDeviceID, std::optional(uuid(3)));
        // Every record of the id goes, and with the last one the selection.
        registry.devices.append(record(3));
        registry.removeDevice(uuid(3));
        QCOMPARE(registry, TrustedDeviceRegistry());
    }

    void findsTheRecordOfAReportedPeer_data()
    {
        const ReportedPeers rows;
        // 1: Pixel bound to peer-a; 2: Pixel unbound; 3 and 4: Galaxy unbound; 5: Redmi bound to peer-e.
        rows("peer id before name", std::optional(u"peer-e"_s), u"Pixel"_s, uuid(5));
        rows("unknown id, one unbound", std::optional(u"peer-x"_s), u"Pixel"_s, uuid(2));
        rows("unknown id, two unbound", std::optional(u"peer-x"_s), u"Galaxy"_s, QString());
        rows("bound record by name", std::optional<QString>(), u"Redmi"_s, QString());
        rows("other case", std::optional<QString>(), u"pixel"_s, QString());
    }

    void findsTheRecordOfAReportedPeer()
    {
        const auto [peerID, peerName, expected] = ReportedPeers::fetch();
        TrustedDeviceRegistry registry;
        registry.devices = {record(1, u"Pixel"_s, u"peer-a"_s), record(2, u"Pixel"_s), record(3, u"Galaxy"_s),
                            record(4, u"Galaxy"_s), record(5, u"Redmi"_s, u"peer-e"_s)};
        const auto found = registry.device(peerID, peerName);
        QCOMPARE(found ? found->id : QString(), expected);
    }

private:
    std::shared_ptr<InMemoryKeychain> m_keychain;
    TransferCredentialStore m_credentials{service, m_keychain};
    std::optional<TrustedDeviceRegistryStore> m_store;
};

QTEST_GUILESS_MAIN(KeychainStoresTest)
#include "test_keychain_stores.moc"
