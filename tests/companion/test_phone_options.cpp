#include "PhoneOptions.h"

#include <QDir>
#include <QTest>

using namespace Qt::StringLiterals;
using Outcome = PhoneOptionsParseResult::Outcome;

Q_DECLARE_METATYPE(PhoneOptions)
Q_DECLARE_METATYPE(PhoneOptionsParseResult::Outcome)

char *toString(const PhoneOptions &options)
{
    return QTest::toString(QStringList{options.command == PhoneOptions::Command::pair ? u"pair"_s : u"serve"_s,
                                       options.pairingUrl, options.storageDirectory, options.deviceName,
                                       options.confirmAutomatically ? u"confirm"_s : u"-"_s}
                               .join(u" | "));
}

class PhoneOptionsTest : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<PhoneOptions>("options"); // when the outcome is run

        const QString url = u"tavrine://pair/v1?device=mac-1&key=K123456789abcdef&token=T123456789abcdef"
                            "&endpoint=127.0.0.1:7000&code=123456"_s;
        const QString storage = QDir::current().absoluteFilePath(u"phone"_s);
        const auto pair = PhoneOptions::Command::pair;
        const auto words = [](const QString &arguments) {
            return arguments.split(u' ');
        };
        QTest::newRow("pair with defaults") << QStringList{u"pair"_s, u"--url"_s, url, u"--storage"_s, u"phone"_s}
                                            << Outcome::run << PhoneOptions{pair, url, storage, u"tavrine-phone"_s};
        QTest::newRow("pair, options first, with = and confirm")
            << QStringList{u"--confirm"_s, u"--name=Pixel 8"_s, u"--storage=phone/./x/.."_s, u"pair"_s, u"--url"_s, url}
            << Outcome::run << PhoneOptions{pair, url, storage, u"Pixel 8"_s, true};
        QTest::newRow("serve with an absolute folder")
            << words(u"serve --storage /srv/phone/"_s) << Outcome::run
            << PhoneOptions{PhoneOptions::Command::serve, {}, u"/srv/phone"_s, u"tavrine-phone"_s};
        QTest::newRow("help") << words(u"--help"_s) << Outcome::help << PhoneOptions();
        QTest::newRow("help wins over the rest") << words(u"serve -h"_s) << Outcome::help << PhoneOptions();

        QTest::newRow("nothing") << QStringList{} << Outcome::badUsage << PhoneOptions();
        for (const QString &arguments :
             {u"send --storage phone"_s, u"pair serve --storage phone"_s, u"serve"_s, u"serve --storage="_s,
              u"serve --storage"_s, u"serve --storage a --storage b"_s, u"serve --storage phone --verbose"_s,
              u"pair --storage phone"_s, u"pair --url https://example.com/pair --storage phone"_s,
              u"serve --url "_s + url + u" --storage phone"_s, u"serve --confirm --storage phone"_s}) {
            QTest::addRow("%s", qPrintable(arguments)) << words(arguments) << Outcome::badUsage << PhoneOptions();
        }
        QTest::newRow("empty name") << QStringList{u"serve"_s, u"--storage"_s, u"phone"_s, u"--name"_s, u" "_s}
                                    << Outcome::badUsage << PhoneOptions();
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(Outcome, outcome);
        QFETCH(PhoneOptions, options);

        const PhoneOptionsParseResult result = PhoneOptions::parse(QStringList{u"tavrine-phone"_s} + arguments);
        QCOMPARE(result.outcome, outcome);
        if (outcome == Outcome::run)
            QCOMPARE(result.options, options);
        QCOMPARE(result.errorMessage.isEmpty(), outcome != Outcome::badUsage);
    }
};

QTEST_GUILESS_MAIN(PhoneOptionsTest)
#include "test_phone_options.moc"
