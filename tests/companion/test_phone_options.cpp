#include "PairingWebLink.h"
#include "PhoneOptions.h"
#include "TestSupport.h"

#include <QDir>
#include <QTest>

using namespace Qt::StringLiterals;
using Outcome = PhoneOptionsParseResult::Outcome;

using Parses = TestTable<QStringList, Outcome, PhoneOptions>;

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
        const Parses rows; // the arguments, the outcome, and the options when the outcome is run

        const QString url = u"tavrine://pair/v1?device=mac-1&key=K123456789abcdef&token=T123456789abcdef"
                            "&endpoint=127.0.0.1:7000&code=123456"_s;
        const QString storage = QDir::current().absoluteFilePath(u"phone"_s);
        const auto pair = PhoneOptions::Command::pair;
        const auto words = [](const QString &arguments) {
            return arguments.split(u' ');
        };
        rows("pair with defaults", {u"pair"_s, u"--url"_s, url, u"--storage"_s, u"phone"_s}, Outcome::run,
             {pair, url, storage, u"tavrine-phone"_s});
        rows("pair, options first, with = and confirm",
             {u"--confirm"_s, u"--name=Pixel 8"_s, u"--storage=phone/./x/.."_s, u"pair"_s, u"--url"_s, url},
             Outcome::run, {pair, url, storage, u"Pixel 8"_s, true});
        rows("pair from the web link the code shows",
             {u"pair"_s, u"--url"_s, makePairingWebLink(url), u"--storage"_s, u"phone"_s}, Outcome::run,
             {pair, url, storage, u"tavrine-phone"_s});
        rows("serve with an absolute folder", words(u"serve --storage /srv/phone/"_s), Outcome::run,
             {PhoneOptions::Command::serve, {}, u"/srv/phone"_s, u"tavrine-phone"_s});
        rows("help", words(u"--help"_s), Outcome::help, {});
        rows("help wins over the rest", words(u"serve -h"_s), Outcome::help, {});

        rows("nothing", {}, Outcome::badUsage, {});
        for (const QString &arguments :
             {u"send --storage phone"_s, u"pair serve --storage phone"_s, u"serve"_s, u"serve --storage="_s,
              u"serve --storage"_s, u"serve --storage a --storage b"_s, u"serve --storage phone --verbose"_s,
              u"pair --storage phone"_s, u"pair --url https://example.com/pair --storage phone"_s,
              u"serve --url "_s + url + u" --storage phone"_s, u"serve --confirm --storage phone"_s}) {
            rows(qPrintable(arguments), words(arguments), Outcome::badUsage, {});
        }
        rows("empty name", {u"serve"_s, u"--storage"_s, u"phone"_s, u"--name"_s, u" "_s}, Outcome::badUsage, {});
    }

    // A web link whose payload cannot be read is told as a damaged web link, not as a pairing URL of another kind.
    void aWebLinkItCannotReadSaysSo_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("message");
        const QString url = u"tavrine://pair/v1?device=mac-1&key=K123456789abcdef&token=T123456789abcdef"
                            "&endpoint=127.0.0.1:7000&code=123456"_s;
        const QString webLink = makePairingWebLink(url);
        const QString readAgain = u"web pairing link carries no pairing URL that can be read"_s;
        QTest::newRow("payload cut short") << webLink.chopped(7) << readAgain;
        QTest::newRow("payload not base64url") << webLink + u"*"_s << readAgain;
        QTest::newRow("payload of another link")
            << webLink.left(webLink.indexOf(u'=') + 1) +
                   QString::fromLatin1(QByteArray("https://example.com/pair").toBase64(QByteArray::Base64UrlEncoding))
            << readAgain;
        QTest::newRow("not a web link") << u"https://example.com/pair"_s << u"This pairing code is not supported."_s;
    }

    void aWebLinkItCannotReadSaysSo()
    {
        QFETCH(QString, link);
        QFETCH(QString, message);
        const PhoneOptionsParseResult result =
            PhoneOptions::parse({u"tavrine-phone"_s, u"pair"_s, u"--url"_s, link, u"--storage"_s, u"phone"_s});
        QCOMPARE(result.outcome, Outcome::badUsage);
        QVERIFY2(result.errorMessage.contains(message), qPrintable(result.errorMessage));
    }

    void parse()
    {
        const auto [arguments, outcome, options] = Parses::fetch();

        const PhoneOptionsParseResult result = PhoneOptions::parse(QStringList{u"tavrine-phone"_s} + arguments);
        QCOMPARE(result.outcome, outcome);
        if (outcome == Outcome::run)
            QCOMPARE(result.options, options);
        QCOMPARE(result.errorMessage.isEmpty(), outcome != Outcome::badUsage);
    }
};

QTEST_GUILESS_MAIN(PhoneOptionsTest)
#include "test_phone_options.moc"
