#include "FilesPaneToolbar.h"

#include "FocusMark.h"
#include "ManagedFilesPane.h"
#include "MenuButton.h"
#include "PlainLabel.h"
#include "SymbolIcon.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QActionGroup>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QIcon symbolIcon(const QString &name, const QColor &color = QColor(0x6e, 0x6e, 0x73))
{
    return SymbolIcon::icon(name, color);
}

// A button shown as its symbol alone, which still carries its title for tooltips and accessibility.
QToolButton *symbolButton(const QString &title, const QString &symbolName, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setText(title);
    button->setToolTip(title);
    button->setAccessibleName(title);
    button->setIcon(symbolIcon(symbolName));
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setAutoRaise(true);
    return button;
}

constexpr int narrowTitleRowWidth = 560;

// A category chip. Its look comes from a style sheet, under which the style draws no focus: it draws the focus mark
// over its look, which tells the chip the keyboard is on apart from the current one.
class CategoryChip : public QToolButton
{
public:
    using QToolButton::QToolButton;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QToolButton::paintEvent(event);
        FocusMark::paint(this);
    }
};

} // namespace

FilesPaneToolbar::FilesPaneToolbar(ManagedFilesPane *pane, QWidget *parent) : QWidget(parent), m_pane(pane)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto *headerBlock = new QVBoxLayout;
    headerBlock->setContentsMargins(24, 18, 24, 12);
    headerBlock->setSpacing(14);
    buildHeader(headerBlock);
    buildFolderToolbar(headerBlock);
    column->addLayout(headerBlock);
    buildCategoryRow(column);
}

void FilesPaneToolbar::buildHeader(QBoxLayout *column)
{
    m_homeButton = new QToolButton(this);
    m_homeButton->setIcon(symbolIcon(QStringLiteral("chevron.left")));
    m_homeButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_homeButton->setAutoRaise(true);
    m_homeButton->setForegroundRole(QPalette::PlaceholderText);
    connect(m_homeButton, &QToolButton::clicked, this, [this] {
        if (m_pane->actions().goHome) {
            m_pane->actions().goHome();
        }
    });
    column->addWidget(m_homeButton, 0, Qt::AlignLeft);

    m_titleRow = new QWidget(this);
    m_titleLabel = new PlainLabel(QStringLiteral("内容"), m_titleRow);
    m_titleLabel->setFont(ViewFonts::title());
    m_searchField = new QLineEdit(m_titleRow);
    m_searchField->setClearButtonEnabled(true);
    connect(m_searchField, &QLineEdit::textEdited, this, &FilesPaneToolbar::writeSearchText);
    connect(m_searchField, &QLineEdit::returnPressed, this, [this] { m_pane->refreshCurrentCategory(); });

    m_headerButtons = new QWidget(m_titleRow);
    auto *buttons = new QHBoxLayout(m_headerButtons);
    buttons->setContentsMargins(0, 0, 0, 0);
    m_addButton = new MenuButton(m_headerButtons);
    m_addButton->setText(QStringLiteral("添加到手机"));
    m_addButton->setIcon(symbolIcon(QStringLiteral("plus"), Qt::white));
    m_addButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // Prominent: filled with the accent colour, its title and symbol in white; disabled, the style's grey.
    QPalette prominent = m_addButton->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        prominent.setColor(group, QPalette::Button, ViewColors::blue());
        prominent.setColor(group, QPalette::ButtonText, Qt::white);
    }
    m_addButton->setPalette(prominent);
    auto *addMenu = new QMenu(m_addButton);
    addMenu->addAction(symbolIcon(QStringLiteral("doc.badge.plus")), QStringLiteral("选择文件…"), this, [this] {
        if (m_pane->actions().chooseFiles) {
            m_pane->actions().chooseFiles();
        }
    });
    addMenu->addAction(symbolIcon(QStringLiteral("folder.badge.plus")), QStringLiteral("选择文件夹…"), this, [this] {
        if (m_pane->actions().chooseFolders) {
            m_pane->actions().chooseFolders();
        }
    });
    m_addButton->setMenu(addMenu);
    buttons->addWidget(m_addButton);
    m_emptyTrashButton = new QPushButton(symbolIcon(QStringLiteral("trash.slash"), Qt::red),
                                         QStringLiteral("清空回收站"), m_headerButtons);
    connect(m_emptyTrashButton, &QPushButton::clicked, this, [this] { m_pane->setIsEmptyingTrash(true); });
    buttons->addWidget(m_emptyTrashButton);
    m_refreshButton = symbolButton(QStringLiteral("刷新"), QStringLiteral("arrow.clockwise"), m_headerButtons);
    connect(m_refreshButton, &QToolButton::clicked, this, [this] { m_pane->refreshCurrentCategory(); });
    buttons->addWidget(m_refreshButton);
    column->addWidget(m_titleRow);
    arrangeTitleRow();
}

void FilesPaneToolbar::arrangeTitleRow()
{
    delete m_titleRow->layout();
    if (!m_isNarrow) {
        auto *row = new QHBoxLayout(m_titleRow);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(12);
        row->addWidget(m_titleLabel);
        row->addSpacing(8);
        row->addStretch();
        m_searchField->setFixedWidth(210);
        row->addWidget(m_searchField);
        row->addWidget(m_headerButtons);
        return;
    }
    auto *narrow = new QVBoxLayout(m_titleRow);
    narrow->setContentsMargins(0, 0, 0, 0);
    narrow->setSpacing(10);
    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(m_titleLabel);
    row->addSpacing(8);
    row->addStretch();
    row->addWidget(m_headerButtons);
    narrow->addLayout(row);
    m_searchField->setMinimumWidth(0);
    m_searchField->setMaximumWidth(QWIDGETSIZE_MAX);
    narrow->addWidget(m_searchField);
}

void FilesPaneToolbar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const bool narrow = event->size().width() < narrowTitleRowWidth;
    if (narrow != m_isNarrow) {
        m_isNarrow = narrow;
        arrangeTitleRow();
    }
}

void FilesPaneToolbar::buildFolderToolbar(QBoxLayout *column)
{
    m_folderToolbar = new QWidget(this);
    auto *row = new QHBoxLayout(m_folderToolbar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    m_backButton = symbolButton(QStringLiteral("返回"), QStringLiteral("chevron.left"), m_folderToolbar);
    connect(m_backButton, &QToolButton::clicked, this, [this] {
        if (m_pane->store()) {
            m_pane->store()->goBack();
        }
    });
    row->addWidget(m_backButton);
    m_folderButton = new MenuButton(m_folderToolbar);
    m_folderButton->setIcon(symbolIcon(QStringLiteral("folder")));
    m_folderButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_folderButton->setAutoRaise(true);
    m_folderButton->setFont(ViewFonts::callout(QFont::Medium));
    m_rootsMenu = new QMenu(m_folderButton);
    m_folderButton->setMenu(m_rootsMenu);
    row->addWidget(m_folderButton);
    row->addStretch();

    m_sortButton = new MenuButton(m_folderToolbar);
    m_sortButton->setText(QStringLiteral("排序"));
    m_sortButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_sortButton->setAutoRaise(true);
    m_sortMenu = new QMenu(m_sortButton);
    m_sortMenu->addSection(QStringLiteral("排序依据"));
    auto *fields = new QActionGroup(m_sortMenu);
    for (FileBrowserSortField field : allFileBrowserSortFields) {
        QAction *action = m_sortMenu->addAction(fileSortFieldTitle(field));
        action->setCheckable(true);
        action->setData(rawValue(field));
        fields->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, field] { m_pane->preferences().setFileSortFieldRawValue(rawValue(field)); });
        m_sortFieldActions.append(action);
    }
    m_sortMenu->addSeparator();
    m_sortDirectionAction = m_sortMenu->addAction(QString());
    connect(m_sortDirectionAction, &QAction::triggered, this,
            [this] { m_pane->preferences().setFileSortAscending(!m_pane->preferences().fileSortAscending()); });
    m_sortButton->setMenu(m_sortMenu);
    row->addWidget(m_sortButton);

    auto *viewStyles = new QWidget(m_folderToolbar);
    viewStyles->setAccessibleName(QStringLiteral("文件视图"));
    viewStyles->setFixedWidth(78);
    auto *segments = new QHBoxLayout(viewStyles);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    auto *styleGroup = new QButtonGroup(viewStyles);
    for (FileBrowserViewStyle style : allFileBrowserViewStyles) {
        QToolButton *button = symbolButton(fileViewStyleTitle(style), fileViewStyleSymbolName(style), viewStyles);
        button->setCheckable(true);
        styleGroup->addButton(button);
        connect(button, &QToolButton::clicked, this,
                [this, style] { m_pane->preferences().setFileViewStyleRawValue(rawValue(style)); });
        segments->addWidget(button);
        m_viewStyleButtons.append(button);
    }
    row->addWidget(viewStyles);

    m_pasteButton = new MenuButton(m_folderToolbar);
    m_pasteButton->setIcon(symbolIcon(QStringLiteral("doc.on.clipboard")));
    m_pasteButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    auto *pasteMenu = new QMenu(m_pasteButton);
    pasteMenu->addAction(QStringLiteral("粘贴，同名时保留两个"), this, [this] {
        if (m_pane->store()) {
            m_pane->store()->paste(ManagedConflictPolicy::keepBoth);
        }
    });
    pasteMenu->addAction(QStringLiteral("粘贴并替换同名项目"), this, [this] { m_pane->setIsReplacingPaste(true); });
    m_pasteButton->setMenu(pasteMenu);
    row->addWidget(m_pasteButton);

    m_newFolderButton =
        symbolButton(QStringLiteral("新建文件夹"), QStringLiteral("folder.badge.plus"), m_folderToolbar);
    connect(m_newFolderButton, &QToolButton::clicked, this, [this] { m_pane->setIsCreatingFolder(true); });
    row->addWidget(m_newFolderButton);
    column->addWidget(m_folderToolbar);
}

void FilesPaneToolbar::buildCategoryRow(QBoxLayout *column)
{
    auto *row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 11);
    row->setSpacing(12);
    auto *strip = new QScrollArea(this);
    strip->setFrameShape(QFrame::NoFrame);
    strip->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    strip->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    strip->setWidgetResizable(true);
    // The chips take the focus themselves; the strip around them would be one more Tab stop that does nothing.
    strip->setFocusPolicy(Qt::NoFocus);
    auto *chips = new QWidget(strip);
    auto *chipRow = new QHBoxLayout(chips);
    chipRow->setContentsMargins(24, 0, 0, 0);
    chipRow->setSpacing(4);
    for (ManagedContentCategory category : allManagedContentCategories()) {
        auto *chip = new CategoryChip(chips);
        chip->setText(rawValue(category));
        chip->setAutoRaise(true);
        // Checked is the current category, which a screen reader says of the chip.
        chip->setCheckable(true);
        chip->setAutoExclusive(true);
        chip->setFont(ViewFonts::callout());
        connect(chip, &QToolButton::clicked, this, [this, category] { m_pane->setSelection(category); });
        chipRow->addWidget(chip);
        m_chips.insert(category, chip);
    }
    chipRow->addStretch();
    strip->setWidget(chips);
    m_chipStrip = strip;
    row->addWidget(strip, 1);

    m_layoutPicker = new QWidget(this);
    m_layoutPicker->setAccessibleName(QStringLiteral("媒体布局"));
    m_layoutPicker->setToolTip(QStringLiteral("切换原始比例或紧凑网格"));
    m_layoutPicker->setFixedWidth(172);
    auto *segments = new QHBoxLayout(m_layoutPicker);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    auto *group = new QButtonGroup(m_layoutPicker);
    for (MediaGalleryLayoutStyle style : allMediaGalleryLayoutStyles) {
        auto *button = new QToolButton(m_layoutPicker);
        button->setText(mediaLayoutStyleTitle(style));
        button->setIcon(symbolIcon(mediaLayoutStyleSymbolName(style)));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setCheckable(true);
        group->addButton(button);
        connect(button, &QToolButton::clicked, this,
                [this, style] { m_pane->preferences().setMediaLayoutStyleRawValue(rawValue(style)); });
        segments->addWidget(button);
        m_layoutButtons.append(button);
    }
    row->addWidget(m_layoutPicker);
    row->addSpacing(24);
    column->addLayout(row);
}

void FilesPaneToolbar::writeSearchText(const QString &text)
{
    DeviceManagementStore *store = m_pane->store();
    if (!store) {
        return;
    }
    // Typing only writes the query; loading waits for Return or the refresh button.
    switch (group(m_pane->selection())) {
    case ManagedContentGroup::media:
        store->setMediaQuery(text);
        break;
    case ManagedContentGroup::trash:
        store->setTrashQuery(text);
        break;
    case ManagedContentGroup::files:
        // The phone filters the folder by this text when it lists the folder again.
        store->setFileQuery(text);
        break;
    }
    // Emptying the field (its clear button, or deleting the text) lists what is shown again without a search, so
    // the list never stays filtered under an empty field.
    if (text.isEmpty()) {
        m_pane->refreshCurrentCategory();
    }
}

void FilesPaneToolbar::render()
{
    const bool ascending = m_pane->preferences().fileSortAscending();
    const FilesPaneToolbarState state =
        filesPaneToolbarState(m_pane->selection(), m_pane->isManagementConnected(), m_pane->storeValues(), ascending);
    m_homeButton->setText(m_pane->peerName());
    m_searchField->setPlaceholderText(state.searchPrompt);
    // The prompt is only painted: a screen reader hears the field by its name.
    m_searchField->setAccessibleName(state.searchPrompt);
    if (m_searchField->text() != state.searchText) {
        m_searchField->setText(state.searchText);
    }
    m_searchField->setEnabled(state.searchEnabled);
    using HeaderAction = FilesPaneToolbarState::HeaderAction;
    m_addButton->setVisible(state.headerAction == HeaderAction::addMenu);
    m_emptyTrashButton->setVisible(state.headerAction == HeaderAction::emptyTrash);
    m_addButton->setEnabled(state.headerAction == HeaderAction::addMenu && state.headerActionEnabled);
    m_emptyTrashButton->setEnabled(state.headerAction == HeaderAction::emptyTrash && state.headerActionEnabled);
    m_refreshButton->setEnabled(state.refreshEnabled);

    m_folderToolbar->setVisible(state.showsFolderToolbar);
    m_backButton->setEnabled(state.backEnabled);
    m_folderButton->setText(state.folderTitle);
    renderRoots();
    m_sortButton->setIcon(symbolIcon(state.sortSymbolName));
    m_sortDirectionAction->setText(state.sortDirectionTitle);
    const QString sortField = m_pane->preferences().fileSortFieldRawValue();
    for (QAction *action : std::as_const(m_sortFieldActions)) {
        action->setChecked(action->data().toString() == sortField);
    }
    const FileBrowserViewStyle viewStyle = m_pane->preferences().fileViewStyle();
    for (qsizetype index = 0; index < m_viewStyleButtons.size(); ++index) {
        m_viewStyleButtons.at(index)->setChecked(allFileBrowserViewStyles.at(index) == viewStyle);
    }
    m_pasteButton->setVisible(state.pasteTitle.has_value());
    m_pasteButton->setText(state.pasteTitle.value_or(QString()));
    m_pasteButton->setEnabled(state.pasteEnabled);
    m_newFolderButton->setEnabled(state.newFolderEnabled);

    for (auto chip = m_chips.cbegin(); chip != m_chips.cend(); ++chip) {
        const bool selected = chip.key() == m_pane->selection();
        QFont font = ViewFonts::callout(selected ? QFont::DemiBold : QFont::Normal);
        chip.value()->setFont(font);
        chip.value()->setChecked(selected);
        // Tab stops on the current chip, the arrow keys move among them: Qt hands the Tab stop on only as the arrow
        // keys move the focus, so a chip chosen with the mouse would leave it on the one the arrows last reached.
        chip.value()->setFocusPolicy(selected ? Qt::TabFocus : Qt::NoFocus);
        chip.value()->setStyleSheet(selected
                                        ? QStringLiteral("QToolButton { color: #0a84ff; padding: 8px 13px;"
                                                         " background: rgba(10,132,255,23); border-radius: 14px; }")
                                        : QStringLiteral("QToolButton { padding: 8px 13px; }"));
    }
    // The strip scrolls sideways only; it is as tall as the chips with their padding.
    m_chipStrip->setFixedHeight(m_chipStrip->widget()->sizeHint().height());
    m_layoutPicker->setVisible(state.showsLayoutPicker);
    const MediaGalleryLayoutStyle layout = m_pane->preferences().mediaLayoutStyle();
    for (qsizetype index = 0; index < m_layoutButtons.size(); ++index) {
        m_layoutButtons.at(index)->setChecked(allMediaGalleryLayoutStyles.at(index) == layout);
    }
}

void FilesPaneToolbar::renderRoots()
{
    m_rootsMenu->clear();
    DeviceManagementStore *store = m_pane->store();
    if (!store) {
        return;
    }
    for (const ManagedStorageRoots::Root &root : store->roots()) {
        m_rootsMenu->addAction(root.name, this, [this, root] {
            if (m_pane->store()) {
                m_pane->store()->openRoot(root);
            }
        });
    }
}
