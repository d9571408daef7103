#include "PairingWebLink.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString linkPrefix = u"https://pair.tavrine.app/connect/#payload="_s;

// Items out of their usual order, so that a link rebuilt from the parsed fields would differ; its
// standard base64 form has "+", "/" and fill, which the link must not carry.
const QString pairingUrl = u"tavrine://pair/v1?code=123456&endpoint=10.0.0.2:7000~~~"
                           "&token=T123456789abcdef&device=phone???&key=K123456789abcdef"_s;

// A payload of this many UTF-8 bytes; 6144 bytes pack into 8192 characters, 6145 into 8194 (base64
// without fill is never 8193 characters long).
QString payloadOfBytes(qsizetype bytes)
{
    return pairingUrl + u"&padding="_s.leftJustified(bytes - pairingUrl.size(), u'x');
}

} // namespace

class PairingWebLinkTest : public QObject
{
    Q_OBJECT

private slots:
    void packsValidPayloadsUnchanged_data()
    {
        QTest::addColumn<QString>("payload");
        QTest::addColumn<bool>("valid");
        QTest::newRow("pairing URL") << pairingUrl << true;
        QTest::newRow("packed text of 8192") << payloadOfBytes(6144) << true;
        QTest::newRow("five-digit code") << QString(pairingUrl).replace(u"123456"_s, u"12345"_s) << false;
        QTest::newRow("packed text over 8192") << payloadOfBytes(6145) << false;
    }

    void packsValidPayloadsUnchanged()
    {
        QFETCH(QString, payload);
        QFETCH(bool, valid);
        QString link;
        try {
            link = makePairingWebLink(payload);
        } catch (const PairingWebLinkError &error) {
            QCOMPARE(error.errorDescription(), u"无法生成安全的网页配对链接。"_s);
        }
        QCOMPARE(link.startsWith(linkPrefix), valid);
        if (!valid)
            return;
        const QByteArray packed = link.sliced(linkPrefix.size()).toLatin1();
        QVERIFY(!packed.contains('+') && !packed.contains('/') && !packed.contains('='));
        const auto decoded =
            QByteArray::fromBase64Encoding(packed + QByteArray((4 - packed.size() % 4) % 4, '='),
                                           QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
        QVERIFY(decoded);
        QCOMPARE(QString::fromUtf8(*decoded), payload);
    }
};

QTEST_APPLESS_MAIN(PairingWebLinkTest)
#include "test_pairing_web_link.moc"
