#include "PairingQRCodeView.h"
#include "PairingWebLink.h"

#include <QLabel>
#include <QTest>

#include <zbar.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int modulePixels = 12;
constexpr int quietZonePixels = 4 * modulePixels;
constexpr int finderPatternPixels = 7 * modulePixels;

const QString pairingUrl = QStringLiteral("tavrine://pair/v1?device=phone-1&key=K123456789abcdef"
                                          "&token=T123456789abcdef&endpoint=192.168.1.20:7000&code=123456");

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

class PairingQRCodeViewTest : public QObject
{
    Q_OBJECT

private slots:
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
        QTest::addColumn<QString>("payload");
        QTest::addColumn<bool>("showsCode");
        QTest::newRow("pairing URL") << pairingUrl << true;
        QTest::newRow("five-digit code") << QString(pairingUrl).replace(u"123456"_s, u"12345"_s) << false;
        QTest::newRow("link too long for a QR code") << pairingUrl + u"&padding="_s + QString(3000, u'x') << false;
    }

    void viewShowsTheCodeOrANotice()
    {
        QFETCH(QString, payload);
        QFETCH(bool, showsCode);
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
