#include "DeviceStatusRow.h"

#include "CardStyle.h"
#include "PlainLabel.h"
#include "SymbolIcon.h"

#include <QHBoxLayout>

namespace {

constexpr int symbolColumnWidth = 24;
constexpr int symbolPixels = 18;

} // namespace

DeviceStatusRow::DeviceStatusRow(const QString &icon, const QString &title, const QString &value, QWidget *parent)
    : QWidget(parent)
{
    m_iconLabel = new PlainLabel(this);
    m_iconLabel->setAlignment(Qt::AlignCenter);
    m_iconLabel->setFixedWidth(symbolColumnWidth);
    auto *titleLabel = new PlainLabel(title, this);
    m_valueLabel = new PlainLabel(value, this);
    // The value is never cut: it keeps the width of its text, and the stretch before it gives way.
    m_valueLabel->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    CardStyle::setSecondary(m_valueLabel);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    row->addWidget(m_iconLabel);
    row->addWidget(titleLabel);
    row->addStretch(1);
    row->addWidget(m_valueLabel);
    setIcon(icon);
}

void DeviceStatusRow::setIcon(const QString &icon)
{
    m_icon = icon;
    const QColor secondary = CardStyle::withOpacity(palette().color(QPalette::WindowText), 0.6);
    m_iconLabel->setPixmap(SymbolIcon::pixmap(SymbolIcon::named(icon).value_or(Symbol::circle), secondary, symbolPixels,
                                              devicePixelRatioF()));
}

void DeviceStatusRow::setValue(const QString &value)
{
    m_valueLabel->setText(value);
    // The value arrives after the row was laid out with the previous text; lay it out now rather than on the next
    // pass of the event loop, so that no picture of the card shows the new text in the old width.
    layout()->activate();
}

QString DeviceStatusRow::value() const
{
    return m_valueLabel->text();
}
