#include "PairingWebLink.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString linkPrefix = u"https://pair.tavrine.app/connect/#payload="_s;

// Items out of their usual order, so that a link rebuilt from the parsed fields would differ.
const QString pairingUrl = u"tavrine://pair/v1?code=123456&endpoint=10.0.0.2:7000~~~"
                           "&token=T123456789abcdef&device=phone???&key=K123456789abcdef"_s;

QByteArray packedPayload(const QString &payload)
{
    const QString link = makePairingWebLink(payload);
    return link.startsWith(linkPrefix) ? link.sliced(linkPrefix.size()).toLatin1() : QByteArray();
}

} // namespace

class PairingWebLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void rejectsInvalidPayloads_data()
    {
        QTest::addColumn<QString>("payload");
        QTest::newRow("empty") << QString();
        QTest::newRow("not a URL") << u"pairing code"_s;
        QTest::newRow("five-digit code") << QString(pairingUrl).replace(u"123456"_s, u"12345"_s);
        // Base64 without fill is never 8193 characters long; 6145 bytes give 8194, the first length over 8192.
        QTest::newRow("packed text over 8192")
            << pairingUrl + u"&padding="_s.leftJustified(6145 - pairingUrl.size(), u'x');
    }

    void rejectsInvalidPayloads()
    {
        QFETCH(QString, payload);
        try {
            QFAIL(qPrintable(u"made a link: "_s + makePairingWebLink(payload).left(100)));
        } catch (const PairingWebLinkError &error) {
            QCOMPARE(error.errorCase(), PairingWebLinkError::Case::invalidPayload);
            QCOMPARE(error.errorDescription(), u"无法生成安全的网页配对链接。"_s);
        }
    }

    void packsPayloadTextUnchanged()
    {
        const QByteArray standard = pairingUrl.toUtf8().toBase64();
        QVERIFY2(standard.contains('+') && standard.contains('/') && standard.endsWith('='),
                 "the sample must exercise every character that base64url replaces or drops");

        QByteArray packed = packedPayload(pairingUrl);
        QVERIFY(!packed.isEmpty());
        QVERIFY(!packed.contains('+') && !packed.contains('/') && !packed.contains('='));

        packed.append((4 - packed.size() % 4) % 4, '=');
        const auto decoded = QByteArray::fromBase64Encoding(packed, QByteArray::Base64UrlEncoding |
                                                                        QByteArray::AbortOnBase64DecodingErrors);
        QVERIFY(decoded);
        QCOMPARE(QString::fromUtf8(*decoded), pairingUrl);
    }

    void acceptsPackedTextOf8192Characters()
    {
        const QString url = pairingUrl + u"&padding="_s.leftJustified(6144 - pairingUrl.size(), u'x');
        QCOMPARE(packedPayload(url).size(), 8192);
    }
};

QTEST_APPLESS_MAIN(PairingWebLinkTest)
#include "test_pairing_web_link.moc"
