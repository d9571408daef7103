#include "PairingQRCodeView.h"

#include "PairingWebLink.h"

#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLibrary>
#include <QPainter>
#include <QPixmap>
#include <QVBoxLayout>

#include <qrencode.h>

#include <algorithm>
#include <limits>
#include <memory>

namespace {

constexpr int modulePixels = 12;
constexpr int quietZoneModules = 4;
constexpr int noticeIconPixels = 48;

// The encoder library is loaded on the first code drawn rather than with the program, which then starts faster;
// its header is included for its types only. Without it no code is drawn and the view says so.
struct QRencodeLibrary
{
    decltype(&QRcode_encodeData) encodeData = nullptr;
    decltype(&QRcode_free) free = nullptr;
};

const QRencodeLibrary &qrencode()
{
    static const QRencodeLibrary library = [] {
        QLibrary file(QStringLiteral("qrencode"), 4);
        QRencodeLibrary loaded;
        if (!file.load()) {
            qWarning("Cannot draw pairing codes: %s", qUtf8Printable(file.errorString()));
            return loaded;
        }
        loaded.encodeData = reinterpret_cast<decltype(&QRcode_encodeData)>(file.resolve("QRcode_encodeData"));
        loaded.free = reinterpret_cast<decltype(&QRcode_free)>(file.resolve("QRcode_free"));
        if (!loaded.encodeData || !loaded.free) {
            qWarning("Cannot draw pairing codes: %s", qUtf8Printable(file.errorString()));
            return QRencodeLibrary{};
        }
        return loaded;
    }();
    return library;
}

QPixmap unavailableCodeSymbol()
{
    const QIcon themed = QIcon::fromTheme(QStringLiteral("qrcode"));
    if (!themed.isNull())
        return themed.pixmap(noticeIconPixels);

    // Three finder patterns on a 7×7 grid, enough to read as "QR code" without an icon theme.
    constexpr int gridModules = 7;
    constexpr int unit = noticeIconPixels / gridModules;
    QPixmap glyph(gridModules * unit, gridModules * unit);
    glyph.fill(Qt::transparent);
    {
        QPainter painter(&glyph);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::gray);
        for (const QPoint corner : {QPoint(0, 0), QPoint(4, 0), QPoint(0, 4)}) {
            painter.drawRect(QRect(corner * unit, QSize(3, 3) * unit));
            painter.setCompositionMode(QPainter::CompositionMode_Clear);
            painter.drawRect(QRect((corner + QPoint(1, 1)) * unit, QSize(unit, unit)));
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
        painter.drawRect(QRect(QPoint(5, 5) * unit, QSize(unit, unit)));
    }
    return glyph;
}

} // namespace

PairingQRCodeView::PairingQRCodeView(QWidget *parent) : QWidget(parent)
{
    m_notice = new QWidget(this);
    m_notice->setObjectName(QStringLiteral("pairingCodeUnavailableNotice"));

    auto *symbol = new QLabel(m_notice);
    symbol->setObjectName(QStringLiteral("pairingCodeUnavailableSymbol"));
    symbol->setPixmap(unavailableCodeSymbol());
    symbol->setAlignment(Qt::AlignCenter);

    auto *title = new QLabel(QStringLiteral("无法生成配对码"), m_notice);
    title->setObjectName(QStringLiteral("pairingCodeUnavailableTitle"));
    title->setAlignment(Qt::AlignCenter);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    title->setFont(titleFont);

    auto *description = new QLabel(QStringLiteral("请重新打开配对页面。"), m_notice);
    description->setObjectName(QStringLiteral("pairingCodeUnavailableDescription"));
    description->setAlignment(Qt::AlignCenter);
    description->setWordWrap(true);
    description->setForegroundRole(QPalette::PlaceholderText);

    auto *noticeLayout = new QVBoxLayout(m_notice);
    noticeLayout->addStretch();
    noticeLayout->addWidget(symbol);
    noticeLayout->addWidget(title);
    noticeLayout->addWidget(description);
    noticeLayout->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_notice);

    rebuild();
}

void PairingQRCodeView::setPayload(const QString &payload)
{
    if (payload == m_payload)
        return;
    m_payload = payload;
    rebuild();
}

void PairingQRCodeView::rebuild()
{
    try {
        m_image = makeImage(makePairingWebLink(m_payload));
    } catch (const PairingWebLinkError &) {
        m_image = QImage();
    }
    m_notice->setHidden(isShowingCode());
    setAccessibleName(isShowingCode() ? QStringLiteral("手机配对二维码") : QString());
    update();
}

void PairingQRCodeView::paintEvent(QPaintEvent *)
{
    if (!isShowingCode())
        return;
    QPainter painter(this);
    // Smoothing would blur the module edges that scanners rely on.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(rect(), m_image);
}

QImage PairingQRCodeView::makeImage(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const QRencodeLibrary &library = qrencode();
    if (!library.encodeData || bytes.size() > std::numeric_limits<int>::max())
        return QImage();
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        library.encodeData(static_cast<int>(bytes.size()), reinterpret_cast<const unsigned char *>(bytes.constData()),
                           0, QR_ECLEVEL_L),
        library.free);
    if (!code)
        return QImage();

    const int sidePixels = (code->width + 2 * quietZoneModules) * modulePixels;
    QImage image(sidePixels, sidePixels, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    for (int row = 0; row < code->width; ++row) {
        for (int column = 0; column < code->width; ++column) {
            // Bit 0 of each module byte tells dark from light; the other bits describe its role.
            if (!(code->data[row * code->width + column] & 1))
                continue;
            const int top = (row + quietZoneModules) * modulePixels;
            const int left = (column + quietZoneModules) * modulePixels;
            for (int y = top; y < top + modulePixels; ++y)
                std::fill_n(image.scanLine(y) + left, modulePixels, uchar(0));
        }
    }
    return image;
}
