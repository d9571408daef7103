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
    using namespace zbar;
    const QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
    QByteArray pixels;
    for (int y = 0; y < gray.height(); ++y)
        pixels.append(reinterpret_cast<const char *>(gray.constScanLine(y)), gray.width());

    zbar_image_scanner_t *scanner = zbar_image_scanner_create();
    zbar_image_scanner_set_config(scanner, ZBAR_NONE, ZBAR_CFG_ENABLE, 0);
    zbar_image_scanner_set_config(scanner, ZBAR_QRCODE, ZBAR_CFG_ENABLE, 1);
    zbar_image_t *zbarImage = zbar_image_create();
    zbar_image_set_format(zbarImage, zbar_fourcc('Y', '8', '0', '0'));
    zbar_image_set_size(zbarImage, gray.width(), gray.height());
    zbar_image_set_data(zbarImage, pixels.constData(), pixels.size(), nullptr);

    QString text;
    if (zbar_scan_image(scanner, zbarImage) > 0) {
        const zbar_symbol_t *symbol = zbar_image_first_symbol(zbarImage);
        text = QString::fromUtf8(zbar_symbol_get_data(symbol), zbar_symbol_get_data_length(symbol));
    }
    zbar_image_destroy(zbarImage);
    zbar_image_scanner_destroy(scanner);
    return text;
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
    void imageDecodesToText()
    {
        const QString link = makePairingWebLink(pairingUrl);
        const QImage image = PairingQRCodeView::makeImage(link);
        QVERIFY(!image.isNull());
        QCOMPARE(decodeQRCode(image), link);
    }

    void imageScalesModuleGridWithQuietZoneByTwelve()
    {
        const QImage image = PairingQRCodeView::makeImage(makePairingWebLink(pairingUrl));
        QCOMPARE(image.width(), image.height());
        QCOMPARE(image.width() % modulePixels, 0);

        // Whatever the symbol version, both top finder patterns are 7 modules wide and sit just inside the
        // quiet zone, which pins the module size and the grid width (17 + 4 × version modules).
        const int side = image.width();
        const int firstModuleRow = quietZonePixels + modulePixels / 2;
        QCOMPARE(runLength(image, 0, firstModuleRow, 1), quietZonePixels);
        QCOMPARE(qGray(image.pixel(quietZonePixels, firstModuleRow)), 0);
        QCOMPARE(runLength(image, quietZonePixels, firstModuleRow, 1), finderPatternPixels);
        QCOMPARE(runLength(image, side - 1, firstModuleRow, -1), quietZonePixels);
        QCOMPARE(runLength(image, side - 1 - quietZonePixels, firstModuleRow, -1), finderPatternPixels);
        const int gridModules = (side - 2 * quietZonePixels) / modulePixels;
        QCOMPARE((gridModules - 17) % 4, 0);
    }

    void imageIsNullBeyondQRCapacity() { QVERIFY(PairingQRCodeView::makeImage(QString(3000, u'a')).isNull()); }

    void viewShowsNoticeWithoutCode_data()
    {
        QTest::addColumn<QString>("payload");
        QTest::newRow("empty") << QString();
        QTest::newRow("five-digit code") << QString(pairingUrl).replace(u"123456"_s, u"12345"_s);
        QTest::newRow("link too long for a QR code") << pairingUrl + u"&padding="_s + QString(3000, u'x');
    }

    void viewShowsNoticeWithoutCode()
    {
        QFETCH(QString, payload);
        PairingQRCodeView view;
        view.setPayload(pairingUrl);
        QVERIFY(view.isShowingCode());

        view.setPayload(payload);
        QCOMPARE(view.payload(), payload);
        QVERIFY(!view.isShowingCode());
        QVERIFY(view.accessibleName().isEmpty());
        auto *notice = view.findChild<QWidget *>(u"pairingCodeUnavailableNotice"_s);
        QVERIFY(notice && !notice->isHidden());
        auto *title = view.findChild<QLabel *>(u"pairingCodeUnavailableTitle"_s);
        auto *description = view.findChild<QLabel *>(u"pairingCodeUnavailableDescription"_s);
        auto *symbol = view.findChild<QLabel *>(u"pairingCodeUnavailableSymbol"_s);
        QVERIFY(title && description && symbol);
        QCOMPARE(title->text(), u"无法生成配对码"_s);
        QCOMPARE(description->text(), u"请重新打开配对页面。"_s);
        QVERIFY(!symbol->pixmap().isNull());
    }

    void viewShowsScannableCode()
    {
        PairingQRCodeView view;
        view.setPayload(pairingUrl);
        QVERIFY(view.isShowingCode());
        QCOMPARE(view.accessibleName(), u"手机配对二维码"_s);
        QVERIFY(view.findChild<QWidget *>(u"pairingCodeUnavailableNotice"_s)->isHidden());

        view.resize(500, 500);
        QCOMPARE(decodeQRCode(view.grab().toImage()), makePairingWebLink(pairingUrl));
    }
};

QTEST_MAIN(PairingQRCodeViewTest)
#include "test_pairing_qrcode_view.moc"
