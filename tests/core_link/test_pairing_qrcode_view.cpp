#include "PairingQRCodeView.h"
#include "PairingWebLink.h"
#include "TestSupport.h"

#include <QLabel>
#include <QTest>

#include <zbar.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int modulePixels = 12;
constexpr int quietZonePixels = 4 * modulePixels;
constexpr int finderPatternPixels = 7 * modulePixels;

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

QString decodeQRCode(const QImage &image)
{
    const QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
    QByteArray pixels;
    for (int y = 0; y < gray.height(); ++y)
        pixels.append(reinterpret_cast<const char *>(gray.constScanLine(y)), gray.width());
    zbar::ImageScanner scanner;
    scanner.set_config(zbar::ZBAR_NONE, zbar::ZBAR_CFG_ENABLE, 0);
    scanner.set_config(zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_ENABLE, 1);
    zbar::Image zbarImage(gray.width(), gray.height(), "Y800", pixels.constData(), pixels.size());
    if (scanner.scan(zbarImage) <= 0)
        return {};
    return QString::fromStdString(zbarImage.symbol_begin()->get_data());
}

// Length of the run of pixels on row y, starting at x, that share the colour of pixel (x, y).
int runLength(const QImage &image, int x, int y, int step)
{
    const int colour = qGray(image.pixel(x, y));
    int length = 0;
    for (; x >= 0 && x < image.width() && qGray(image.pixel(x, y)) == colour; x += step)
        ++length;
    return length;
}

} // namespace

using Payloads = TestTable<QString, bool>;

// The web link that packs a pairing URL, and its QR code.
class PairingQRCodeViewTest : public QObject
{
    Q_OBJECT

private slots:
    void packsValidPayloadsUnchanged_data()
    {
        const Payloads rows;
        rows("pairing URL", pairingUrl, true);
        rows("packed text of 8192", payloadOfBytes(6144), true);
        rows("five-digit code", QString(pairingUrl).replace(u"123456"_s, u"12345"_s), false);
        rows("packed text over 8192", payloadOfBytes(6145), false);
    }

    void packsValidPayloadsUnchanged()
    {
        const auto [payload, valid] = Payloads::fetch();
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

    void imageIsAScannableGridOfTwelvePixelModules()
    {
        const QString link = makePairingWebLink(pairingUrl);
        const QImage image = PairingQRCodeView::makeImage(link);
        QCOMPARE(decodeQRCode(image), link);
        QCOMPARE(image.width(), image.height());

        // Whatever the symbol version, both top finder patterns are 7 modules wide and sit just inside the
        // quiet zone, which pins the module size and the grid width (17 + 4 × version modules).
        const int side = image.width();
        const int firstModuleRow = quietZonePixels + modulePixels / 2;
        QCOMPARE(runLength(image, 0, firstModuleRow, 1), quietZonePixels);
        QCOMPARE(qGray(image.pixel(quietZonePixels, firstModuleRow)), 0);
        QCOMPARE(runLength(image, quietZonePixels, firstModuleRow, 1), finderPatternPixels);
        QCOMPARE(runLength(image, side - 1, firstModuleRow, -1), quietZonePixels);
        QCOMPARE(runLength(image, side - 1 - quietZonePixels, firstModuleRow, -1), finderPatternPixels);
        QCOMPARE((side - 2 * quietZonePixels) % modulePixels, 0);
        QCOMPARE(((side - 2 * quietZonePixels) / modulePixels - 17) % 4, 0);
    }

    void viewShowsTheCodeOrANotice_data()
    {
        const Payloads rows;
        rows("pairing URL", pairingUrl, true);
        rows("five-digit code", QString(pairingUrl).replace(u"123456"_s, u"12345"_s), false);
        rows("link too long for a QR code", pairingUrl + u"&padding="_s + QString(3000, u'x'), false);
    }

    void viewShowsTheCodeOrANotice()
    {
        const auto [payload, showsCode] = Payloads::fetch();
        PairingQRCodeView view;
        view.resize(500, 500);
        // A code first, so that the notice must replace it.
        view.setPayload(pairingUrl);
        view.setPayload(payload);

        QCOMPARE(view.isShowingCode(), showsCode);
        QCOMPARE(view.accessibleName(), showsCode ? u"手机配对二维码"_s : QString());
        QCOMPARE(view.findChild<QWidget *>(u"pairingCodeUnavailableNotice"_s)->isHidden(), showsCode);
        if (showsCode) {
            QCOMPARE(decodeQRCode(view.grab().toImage()), makePairingWebLink(pairingUrl));
            return;
        }
        auto *title = view.findChild<QLabel *>(u"pairingCodeUnavailableTitle"_s);
        auto *description = view.findChild<QLabel *>(u"pairingCodeUnavailableDescription"_s);
        auto *symbol = view.findChild<QLabel *>(u"pairingCodeUnavailableSymbol"_s);
        QVERIFY(title && description && symbol);
        QCOMPARE(title->text(), u"无法生成配对码"_s);
        QCOMPARE(description->text(), u"请重新打开配对页面。"_s);
        QVERIFY(!symbol->pixmap().isNull());
    }
};

QTEST_MAIN(PairingQRCodeViewTest)
#include "test_pairing_qrcode_view.moc"
