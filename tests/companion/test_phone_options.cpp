#include "PhoneOptions.h"

#include <QDir>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(PhoneOptions)
Q_DECLARE_METATYPE(PhoneOptionsParseResult::Outcome)

char *toString(const PhoneOptions &options)
{
    return QTest::toString(QStringList{options.command == PhoneOptions::Command::pair ? u"pair"_s : u"serve"_s,
                                       options.pairingUrl, options.storageDirectory, options.deviceName,
                                       options.confirmAutomatically ? u"confirm"_s : u"-"_s}
                               .join(u" | "));
}

namespace {

const QString pairingUrl =
    u"tavrine://pair/v1?device=mac-1&key=K123456789abcdef&token=T123456789abcdef&endpoint=127.0.0.1:7000&code=123456"_s;

PhoneOptionsParseResult parse(QStringList arguments)
{
    arguments.prepend(u"tavrine-phone"_s);
    return PhoneOptions::parse(arguments);
}

} // namespace

class PhoneOptionsTest : public QObject
{
    Q_OBJECT

private slots:
    void acceptsCommandLines_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<PhoneOptions>("expected");

        const QString storage = QDir::current().absoluteFilePath(u"phone"_s);
        QTest::newRow("pair with defaults")
            << QStringList{u"pair"_s, u"--url"_s, pairingUrl, u"--storage"_s, u"phone"_s}
            << PhoneOptions{PhoneOptions::Command::pair, pairingUrl, storage, u"tavrine-phone"_s, false};
        QTest::newRow("pair, options first, with = and confirm")
            << QStringList{u"--confirm"_s, u"--name=Pixel 8"_s, u"--storage=phone/./x/.."_s,
                           u"pair"_s,      u"--url"_s,          pairingUrl}
            << PhoneOptions{PhoneOptions::Command::pair, pairingUrl, storage, u"Pixel 8"_s, true};
        QTest::newRow("serve with an absolute folder")
            << QStringList{u"serve"_s, u"--storage"_s, u"/srv/phone/"_s}
            << PhoneOptions{PhoneOptions::Command::serve, {}, u"/srv/phone"_s, u"tavrine-phone"_s, false};
    }

    void acceptsCommandLines()
    {
        QFETCH(QStringList, arguments);
        QFETCH(PhoneOptions, expected);

        const PhoneOptionsParseResult result = parse(arguments);
        QCOMPARE(result.outcome, PhoneOptionsParseResult::Outcome::run);
        QCOMPARE(result.options, expected);
    }

    void helpWinsOverEverythingElse()
    {
        QCOMPARE(parse({u"--help"_s}).outcome, PhoneOptionsParseResult::Outcome::help);
        QCOMPARE(parse({u"serve"_s, u"-h"_s}).outcome, PhoneOptionsParseResult::Outcome::help);
    }

    void rejectsBadUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");

        QTest::newRow("nothing") << QStringList{};
        QTest::newRow("unknown command") << QStringList{u"send"_s, u"--storage"_s, u"phone"_s};
        QTest::newRow("two commands") << QStringList{u"pair"_s, u"serve"_s, u"--storage"_s, u"phone"_s};
        QTest::newRow("no storage") << QStringList{u"serve"_s};
        QTest::newRow("empty storage") << QStringList{u"serve"_s, u"--storage="_s};
        QTest::newRow("storage without its value") << QStringList{u"serve"_s, u"--storage"_s};
        QTest::newRow("storage twice") << QStringList{u"serve"_s, u"--storage"_s, u"a"_s, u"--storage"_s, u"b"_s};
        QTest::newRow("unknown option") << QStringList{u"serve"_s, u"--storage"_s, u"phone"_s, u"--verbose"_s};
        QTest::newRow("empty name") << QStringList{u"serve"_s, u"--storage"_s, u"phone"_s, u"--name"_s, u" "_s};
        QTest::newRow("pair without url") << QStringList{u"pair"_s, u"--storage"_s, u"phone"_s};
        QTest::newRow("pair with a malformed url")
            << QStringList{u"pair"_s, u"--url"_s, u"https://example.com/pair"_s, u"--storage"_s, u"phone"_s};
        QTest::newRow("serve with url") << QStringList{u"serve"_s, u"--url"_s, pairingUrl, u"--storage"_s, u"phone"_s};
        QTest::newRow("serve with confirm") << QStringList{u"serve"_s, u"--confirm"_s, u"--storage"_s, u"phone"_s};
    }

    void rejectsBadUsage()
    {
        QFETCH(QStringList, arguments);

        const PhoneOptionsParseResult result = parse(arguments);
        QCOMPARE(result.outcome, PhoneOptionsParseResult::Outcome::badUsage);
        QVERIFY(!result.errorMessage.isEmpty());
    }
};

QTEST_GUILESS_MAIN(PhoneOptionsTest)
#include "test_phone_options.moc"
