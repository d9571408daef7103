#include "TrustedDeviceManagementRow.h"

#include "PlainLabel.h"
#include "SymbolIcon.h"
#include "TrustedDeviceManagementPresentation.h"
#include "ViewColors.h"
#include "ViewDates.h"
#include "ViewFonts.h"
#include "ViewMessageBox.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QToolButton>

namespace {

constexpr int selectionIconPixels = 20;
constexpr int removeIconPixels = 16;

} // namespace

TrustedDeviceManagementRow::TrustedDeviceManagementRow(const TrustedDeviceRecord &device, bool isSelected,
                                                       Action select, RenameAction rename, Action revoke,
                                                       QWidget *parent)
    : QWidget(parent), m_device(device), m_isSelected(isSelected), m_select(std::move(select)),
      m_rename(std::move(rename)), m_revoke(std::move(revoke))
{
    setObjectName(QStringLiteral("trustedDeviceRow"));

    m_selectButton = new QToolButton(this);
    m_selectButton->setObjectName(QStringLiteral("selectButton"));
    m_selectButton->setAutoRaise(true);
    m_selectButton->setIconSize(QSize(selectionIconPixels, selectionIconPixels));
    m_selectButton->setCursor(Qt::PointingHandCursor);
    connect(m_selectButton, &QToolButton::clicked, this, [this] {
        if (m_select) {
            m_select();
        }
    });

    renderName();

    m_nameField = new QLineEdit(device.name, this);
    m_nameField->setObjectName(QStringLiteral("nameField"));
    m_nameField->setPlaceholderText(QStringLiteral("设备名称"));
    // A screen reader names a field by its own name, not by the placeholder that typing hides.
    m_nameField->setAccessibleName(QStringLiteral("设备名称"));
    m_nameField->installEventFilter(this);

    m_lastSeenLabel = new PlainLabel(this);
    m_lastSeenLabel->setObjectName(QStringLiteral("lastSeenLabel"));
    m_lastSeenLabel->setFont(ViewFonts::caption());
    QPalette lastSeenPalette = m_lastSeenLabel->palette();
    lastSeenPalette.setColor(QPalette::WindowText, ViewColors::tertiary());
    m_lastSeenLabel->setPalette(lastSeenPalette);
    // Wide enough for the longer texts, so that the name fields of all rows line up.
    m_lastSeenLabel->setMinimumWidth(m_lastSeenLabel->fontMetrics().horizontalAdvance(QStringLiteral("59 分钟前")));
    m_lastSeenLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_removeButton = new QToolButton(this);
    m_removeButton->setObjectName(QStringLiteral("removeButton"));
    m_removeButton->setAutoRaise(true);
    m_removeButton->setIcon(SymbolIcon::icon(Symbol::trash, ViewColors::red(), removeIconPixels));
    m_removeButton->setIconSize(QSize(removeIconPixels, removeIconPixels));
    m_removeButton->setToolTip(QStringLiteral("移除"));
    m_removeButton->setAccessibleName(QStringLiteral("移除"));
    connect(m_removeButton, &QToolButton::clicked, this, &TrustedDeviceManagementRow::confirmRevocation);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(m_selectButton, 0, Qt::AlignVCenter);
    layout->addWidget(m_nameField, 1, Qt::AlignVCenter);
    layout->addWidget(m_lastSeenLabel, 0, Qt::AlignVCenter);
    layout->addWidget(m_removeButton, 0, Qt::AlignVCenter);

    renderSelection();
    refreshLastSeen(QDateTime::currentDateTimeUtc());
}

QList<QWidget *> TrustedDeviceManagementRow::tabStops() const
{
    return {m_selectButton, m_nameField, m_removeButton};
}

void TrustedDeviceManagementRow::setDevice(const TrustedDeviceRecord &device, bool isSelected)
{
    const bool selectionChanged = isSelected != m_isSelected;
    m_device = device;
    m_isSelected = isSelected;
    renderName();
    if (selectionChanged) {
        renderSelection();
    }
    refreshLastSeen(QDateTime::currentDateTimeUtc());
}

void TrustedDeviceManagementRow::refreshLastSeen(const QDateTime &now)
{
    m_lastSeenLabel->setText(TrustedDeviceManagementPresentation::relativeLastSeen(m_device.lastSeenAt, now));
    m_lastSeenLabel->setToolTip(ViewDates::dateTimeText(m_device.lastSeenAt));
}

void TrustedDeviceManagementRow::renderName()
{
    // The circle shows no text: a screen reader names it by what it does for this phone.
    m_selectButton->setAccessibleName(QStringLiteral("选择 ") + m_device.name);
}

void TrustedDeviceManagementRow::renderSelection()
{
    m_selectButton->setIcon(m_isSelected
                                ? SymbolIcon::icon(Symbol::checkmarkCircleFill, ViewColors::blue(), selectionIconPixels)
                                : SymbolIcon::icon(Symbol::circle, ViewColors::secondary(), selectionIconPixels));
    m_selectButton->setProperty("selected", m_isSelected);
}

bool TrustedDeviceManagementRow::eventFilter(QObject *watched, QEvent *event)
{
    // Return saves the name here and goes no further: the sheet would otherwise take it as "完成".
    if (watched == m_nameField && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (m_rename) {
                m_rename(m_nameField->text());
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TrustedDeviceManagementRow::confirmRevocation()
{
    m_confirmsRevocation = true;
    const QPointer<TrustedDeviceManagementRow> guard(this);
    const QMessageBox::ButtonRole answer = ViewMessageBox::ask(
        window(), QMessageBox::Warning, TrustedDeviceManagementPresentation::revocationTitle(m_device.name),
        QStringLiteral("这台手机之后需要重新确认配对才能连接。"),
        {{QStringLiteral("移除设备"), QMessageBox::DestructiveRole}, {QStringLiteral("取消"), QMessageBox::RejectRole}},
        1);
    // The list may have dropped this row while the question was open.
    if (!guard) {
        return;
    }
    m_confirmsRevocation = false;
    if (answer == QMessageBox::DestructiveRole && m_revoke) {
        const Action revoke = m_revoke;
        revoke();
    }
}
