#include "ManagedSelectionBar.h"

#include "CardStyle.h"
#include "FileSelectionRules.h"
#include "ManagedFileBrowser.h"
#include "MenuButton.h"
#include "PlainLabel.h"
#include "SymbolIcon.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>

namespace {

void runBarCommand(ManagedFileBrowser *browser, FileCommand command)
{
    if (!browser) {
        return;
    }
    switch (command) {
    case FileCommand::download:
        browser->downloadSelection();
        break;
    case FileCommand::copy:
    case FileCommand::move:
        browser->putSelectionOnClipboard(command == FileCommand::move);
        break;
    case FileCommand::trash:
        browser->trashSelection();
        break;
    default:
        break;
    }
}

} // namespace

ManagedSelectionBar::ManagedSelectionBar(ManagedFileBrowser *browser, QWidget *parent)
    : QWidget(parent), m_browser(browser)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(24, 10, 24, 10);
    layout->setSpacing(12);

    m_clearButton = new QToolButton(this);
    m_clearButton->setAutoRaise(true);
    m_clearButton->setIcon(SymbolIcon::icon(QStringLiteral("xmark.circle.fill"), ViewColors::secondary()));
    m_clearButton->setToolTip(QStringLiteral("取消选择"));
    m_clearButton->setAccessibleName(QStringLiteral("取消选择"));
    connect(m_clearButton, &QToolButton::clicked, this, [this] {
        if (m_browser) {
            m_browser->clearSelection();
        }
    });
    layout->addWidget(m_clearButton);

    m_countLabel = new PlainLabel(this);
    m_countLabel->setFont(ViewFonts::callout(QFont::DemiBold));
    layout->addWidget(m_countLabel);
    m_bytesLabel = new PlainLabel(this);
    m_bytesLabel->setFont(ViewFonts::caption());
    CardStyle::setSecondary(m_bytesLabel);
    layout->addWidget(m_bytesLabel);
    layout->addStretch(1);

    auto *menu = new QMenu(this);
    for (const FileCommandItem &item : selectionBarItems()) {
        const QColor tint = item.destructive ? ViewColors::red() : ViewColors::blue();
        auto *button = new QPushButton(SymbolIcon::icon(item.symbolName, tint), item.title, this);
        connect(button, &QPushButton::clicked, this,
                [this, command = item.command] { runBarCommand(m_browser, command); });
        m_actionButtons.append(button);
        layout->addWidget(button);
        if (item.dividerBefore) {
            menu->addSeparator();
        }
        QAction *action = menu->addAction(SymbolIcon::icon(item.symbolName, tint), item.title);
        connect(action, &QAction::triggered, this,
                [this, command = item.command] { runBarCommand(m_browser, command); });
    }
    m_menuButton = new MenuButton(this);
    m_menuButton->setText(QStringLiteral("所选项目操作"));
    m_menuButton->setIcon(SymbolIcon::icon(QStringLiteral("ellipsis.circle"), ViewColors::blue()));
    m_menuButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_menuButton->setMenu(menu);
    layout->addWidget(m_menuButton);

    keepOneHeight();
    if (m_browser) {
        connect(m_browser, &ManagedFileBrowser::selectionChanged, this, &ManagedSelectionBar::refresh);
    }
    refresh();
}

void ManagedSelectionBar::refresh()
{
    const QList<ManagedFileEntry> selected = m_browser ? m_browser->selectedEntries() : QList<ManagedFileEntry>();
    m_countLabel->setText(selectionCountText(selected.size()));
    const std::optional<QString> bytes = selectionBytesText(selectedTotalBytes(selected));
    m_bytesLabel->setText(bytes.value_or(QString()));
    m_bytesLabel->setVisible(bytes.has_value());
    // Ids may be selected while none of them is shown: nothing to download then.
    m_actionButtons.first()->setEnabled(!selected.isEmpty());
    updateLayout();
}

void ManagedSelectionBar::keepOneHeight()
{
    if (!m_menuButton) {
        return; // still being made
    }
    int height = 0;
    for (QWidget *part : std::initializer_list<QWidget *>{m_clearButton, m_countLabel, m_bytesLabel, m_menuButton}) {
        height = std::max(height, part->sizeHint().height());
    }
    for (QPushButton *button : m_actionButtons) {
        height = std::max(height, button->sizeHint().height());
    }
    const QMargins padding = layout()->contentsMargins() + contentsMargins();
    setFixedHeight(height + padding.top() + padding.bottom());
}

void ManagedSelectionBar::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ContentsRectChange || event->type() == QEvent::FontChange ||
        event->type() == QEvent::StyleChange) {
        keepOneHeight();
    }
}

bool ManagedSelectionBar::showsButtons() const
{
    return !m_menuButton->isVisibleTo(this);
}

void ManagedSelectionBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateLayout();
}

void ManagedSelectionBar::updateLayout()
{
    // The buttons when the summary, the minimum gap of 8 and the four buttons fit; the menu otherwise.
    const QMargins margins = layout()->contentsMargins();
    int needed = margins.left() + margins.right() + m_clearButton->sizeHint().width() +
                 m_countLabel->sizeHint().width() + 8 + 12 * 2;
    if (m_bytesLabel->isVisibleTo(this)) {
        needed += m_bytesLabel->sizeHint().width() + 12;
    }
    for (QPushButton *button : m_actionButtons) {
        needed += button->sizeHint().width() + 12;
    }
    const bool wide = width() >= needed;
    for (QPushButton *button : m_actionButtons) {
        button->setVisible(wide);
    }
    m_menuButton->setVisible(!wide);
}
