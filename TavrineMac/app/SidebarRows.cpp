#include "SidebarRows.h"

#include "CardStyle.h"
#include "ElidedLabel.h"
#include "PlainLabel.h"
#include "SidebarAndPairingPresentation.h"
#include "SymbolTile.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

using namespace SidebarAndPairingPresentation;

namespace {

constexpr int rowSpacing = 11;
constexpr int rowPadding = 5;
constexpr int textSpacing = 2;

// The row frame both kinds share: `icon` at the left, then the title over the status line. A screen reader reads
// the row as one, by its title and its status.
QLabel *addTextColumn(QWidget *row, QWidget *icon, const QString &title, const QFont &titleFont, QLabel **status,
                      const QString &statusText)
{
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, rowPadding, 0, rowPadding);
    layout->setSpacing(rowSpacing);
    layout->addWidget(icon, 0, Qt::AlignVCenter);

    auto *column = new QVBoxLayout;
    column->setSpacing(textSpacing);
    // A long name stays on one line, cut short at its end.
    auto *titleLabel = new ElidedLabel(Qt::ElideRight, row);
    titleLabel->setText(title);
    titleLabel->setFont(titleFont);
    column->addWidget(titleLabel);
    *status = new PlainLabel(statusText, row);
    (*status)->setFont(ViewFonts::caption());
    (*status)->setWordWrap(true);
    CardStyle::setSecondary(*status);
    column->addWidget(*status);
    layout->addLayout(column, 1);
    row->setAccessibleName(title + QStringLiteral("，") + statusText);
    return titleLabel;
}

} // namespace

SidebarPhoneRow::SidebarPhoneRow(const QString &title, const QString &status, const QColor &iconFill,
                                 const QColor &iconColor, QWidget *parent)
    : QWidget(parent)
{
    m_icon = new SymbolTile({rowSymbol, Symbol::smartphone, iconColor, 18, iconFill, 30, 9}, this);
    m_title = addTextColumn(this, m_icon, title, ViewFonts::body(QFont::Medium), &m_status, status);
}

DeviceRow::DeviceRow(const AndroidDevice &device, QWidget *parent)
    : SidebarPhoneRow(device.displayName(), deviceRowStatus(device.state),
                      CardStyle::withOpacity(color(deviceRowTint(device.state), {}), 0.12),
                      color(deviceRowTint(device.state), {}), parent),
      m_device(device)
{}

TrustedDeviceRow::TrustedDeviceRow(const QString &name, bool isSelected, bool isConnected,
                                   std::optional<AndroidDevice::State> usbState, QWidget *parent)
    : SidebarPhoneRow(
          name, trustedRowStatus(isSelected, isConnected, usbState), CardStyle::withOpacity(ViewColors::blue(), 0.08),
          parent ? parent->palette().color(QPalette::WindowText) : QPalette().color(QPalette::WindowText), parent)
{}

USBWaitingRow::USBWaitingRow(const USBAndroidDevice &phone, QWidget *parent) : QWidget(parent)
{
    auto *icon = new SymbolTile({usbSymbol, Symbol::smartphone, ViewColors::blue(), 16,
                                 CardStyle::withOpacity(ViewColors::blue(), 0.12), 28, 8},
                                this);
    QLabel *status = nullptr;
    m_title = addTextColumn(this, icon, phone.productName, ViewFonts::body(), &status, usbWaitingRowStatus);
}
