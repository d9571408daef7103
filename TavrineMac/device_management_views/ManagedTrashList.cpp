#include "ManagedTrashList.h"

#include "CardStyle.h"
#include "DeviceManagementStore.h"
#include "FileListRow.h"
#include "FocusMark.h"
#include "PaintedListAccessible.h"
#include "PaintedTextLine.h"
#include "PlainLabel.h"
#include "SpinningIndicator.h"
#include "TrashListPresentation.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QAbstractListModel>
#include <QAccessible>
#include <QHBoxLayout>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStackedLayout>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {

constexpr int rowSpacing = 12;
constexpr int iconWidth = 24;
constexpr int horizontalPadding = 10;
constexpr int verticalPadding = 6;

QString restoreTitle()
{
    return QStringLiteral("恢复");
}

QFont nameFont()
{
    return ViewFonts::body();
}

int restoreButtonWidth()
{
    return QFontMetrics(ViewFonts::body()).horizontalAdvance(restoreTitle()) + 12;
}

// The restore button sits at the trailing end of the row.
QRect restoreRectIn(const QRect &row)
{
    const int width = restoreButtonWidth();
    const int height = QFontMetrics(ViewFonts::body()).height() + 6;
    return {row.right() - horizontalPadding - width + 1, row.center().y() - height / 2, width, height};
}

} // namespace

// The store's trash entries, one row each, in the store's order.
class ManagedTrashList::Model : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    void setEntries(const QList<ManagedTrashEntry> &entries)
    {
        beginResetModel();
        m_entries = entries;
        endResetModel();
    }
    const ManagedTrashEntry *entryAt(const QModelIndex &index) const
    {
        return index.isValid() && index.row() < m_entries.size() ? &m_entries.at(index.row()) : nullptr;
    }
    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(m_entries.size()); }
    QVariant data(const QModelIndex &index, int role) const override
    {
        const ManagedTrashEntry *entry = entryAt(index);
        if (!entry) {
            return {};
        }
        if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
            return entry->originalName;
        }
        return {};
    }

private:
    QList<ManagedTrashEntry> m_entries;
};

namespace {

// Paints one trash row: icon, name, former location and deletion time, size when known, and the restore button.
class TrashRowDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const ManagedTrashEntry *entry = static_cast<const ManagedTrashList::Model *>(index.model())->entryAt(index);
        if (!entry) {
            return;
        }
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRect content =
            option.rect.adjusted(horizontalPadding, verticalPadding, -horizontalPadding, -verticalPadding);
        paintNamedSymbol(painter, QRect(content.left(), content.top(), iconWidth, content.height()),
                         trashRowSymbolName(*entry), entry->directory ? ViewColors::blue() : ViewColors::secondary(),
                         20);

        const QRect button = restoreRectIn(option.rect);
        painter->setFont(ViewFonts::body());
        painter->setPen(ViewColors::blue());
        painter->drawText(button, Qt::AlignCenter, restoreTitle());

        int right = button.left() - rowSpacing;
        const QFont caption = ViewFonts::caption();
        const QFontMetrics captionMetrics(caption);
        painter->setFont(caption);
        painter->setPen(ViewColors::secondary());
        if (const std::optional<QString> size = trashRowSizeText(*entry)) {
            const int width = captionMetrics.horizontalAdvance(*size);
            painter->drawText(QRect(right - width, content.top(), width, content.height()),
                              Qt::AlignRight | Qt::AlignVCenter, *size);
            right -= width + rowSpacing;
        }
        const int left = content.left() + iconWidth + rowSpacing;
        const int width = std::max(0, right - left);
        const QString name = QFontMetrics(nameFont()).elidedText(entry->originalName, Qt::ElideMiddle, width);
        const QString detail = captionMetrics.elidedText(trashRowDetail(*entry), Qt::ElideMiddle, width);
        const qreal nameHeight = PaintedTextLine::height(nameFont(), name);
        const qreal detailHeight = PaintedTextLine::height(caption, detail);
        const qreal top = QRectF(content).center().y() - (nameHeight + 3 + detailHeight) / 2;
        PaintedTextLine::draw(*painter, QRectF(left, top + nameHeight + 3, width, detailHeight), Qt::AlignLeft, detail);
        painter->setFont(nameFont());
        painter->setPen(option.palette.color(QPalette::Text));
        PaintedTextLine::draw(*painter, QRectF(left, top, width, nameHeight), Qt::AlignLeft, name);
        // The rows are never selected, so nothing else shows the row the arrow keys are on: the mark shows whenever
        // the list has the keyboard, also after a click gave it.
        QStyleOptionViewItem keyboardRow = option;
        keyboardRow.state |= QStyle::State_KeyboardFocusChange;
        FocusMark::paint(*painter, keyboardRow, option.rect.adjusted(2, 1, -2, -1), option.widget);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const override
    {
        // Every row is as tall as the first (the list's rows are uniform): tall enough for names of either font.
        const int height =
            qCeil(PaintedTextLine::nameHeight(nameFont()) + 3 + PaintedTextLine::nameHeight(ViewFonts::caption()));
        return {option.rect.width(), height + 2 * verticalPadding + 4};
    }
};

// The list of the trash rows: one widget for every row, told apart from other lists by its type.
class TrashListView : public QListView
{
public:
    TrashListView(ManagedTrashList *list, QWidget *parent) : QListView(parent), m_list(list) {}

    ManagedTrashList *list() const { return m_list; }

private:
    ManagedTrashList *m_list;
};

// The rows are painted: a screen reader finds each as an element named by the entry's name, where it came from and
// when it was deleted, whose actions restore it as the row's button and menu do.
class TrashListAccessible : public PaintedListAccessible
{
public:
    explicit TrashListAccessible(TrashListView *view) : PaintedListAccessible(view, QAccessible::ListItem) {}

    qsizetype itemCount() const override { return model()->rowCount(); }
    QString itemKey(qsizetype index) const override { return entry(index).id; }
    QString itemText(qsizetype index, QAccessible::Text type) const override
    {
        switch (type) {
        case QAccessible::Name:
            return entry(index).originalName + QStringLiteral("，") + trashRowDetail(entry(index));
        case QAccessible::Description:
            return trashRowSizeText(entry(index)).value_or(QString());
        default:
            return {};
        }
    }
    QRect itemScreenRect(qsizetype index) const override
    {
        const QRect row = view()->visualRect(model()->index(int(index)));
        return QRect(view()->viewport()->mapToGlobal(row.topLeft()), row.size());
    }
    std::optional<qsizetype> itemAtScreenPoint(const QPoint &point) const override
    {
        const QModelIndex index = view()->indexAt(view()->viewport()->mapFromGlobal(point));
        return index.isValid() ? std::optional<qsizetype>(index.row()) : std::nullopt;
    }
    QStringList itemActionNames(qsizetype) const override { return {restoreTitle(), trashRowMenuItems().at(1).title}; }
    void doItemAction(qsizetype index, const QString &name) override
    {
        const ManagedTrashEntry chosen = entry(index);
        if (name == restoreTitle()) {
            view()->list()->restoreKeepingBoth(chosen);
        } else {
            emit view()->list()->replacingTrashEntryRequested(chosen);
        }
    }
    std::optional<qsizetype> focusedItem() const override
    {
        const QModelIndex current = view()->currentIndex();
        return view()->hasFocus() && current.isValid() ? std::optional<qsizetype>(current.row()) : std::nullopt;
    }

private:
    TrashListView *view() const { return static_cast<TrashListView *>(widget()); }
    const ManagedTrashList::Model *model() const
    {
        return static_cast<const ManagedTrashList::Model *>(view()->model());
    }
    const ManagedTrashEntry &entry(qsizetype index) const { return *model()->entryAt(model()->index(int(index))); }
};

QAccessibleInterface *trashListAccessible(const QString &, QObject *object)
{
    auto *view = dynamic_cast<TrashListView *>(object);
    return view ? new TrashListAccessible(view) : nullptr;
}

} // namespace

ManagedTrashList::ManagedTrashList(DeviceManagementStore *store, QWidget *parent)
    : QWidget(parent), m_store(store), m_model(new Model(this))
{
    m_stack = new QStackedLayout(this);
    m_stack->setStackingMode(QStackedLayout::StackOne);

    m_loadingView = new QWidget(this);
    auto *loadingLayout = new QHBoxLayout(m_loadingView);
    loadingLayout->addStretch(1);
    loadingLayout->addWidget(new SpinningIndicator(16, m_loadingView));
    loadingLayout->addWidget(new PlainLabel(trashLoadingText(), m_loadingView));
    loadingLayout->addStretch(1);
    m_stack->addWidget(m_loadingView);

    auto *listPage = new QWidget(this);
    auto *listLayout = new QStackedLayout(listPage);
    listLayout->setStackingMode(QStackedLayout::StackAll);
    m_emptyState = new QWidget(listPage);
    m_emptyState->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *emptyColumn = new QVBoxLayout(m_emptyState);
    emptyColumn->addStretch();
    m_emptySymbol = CardStyle::symbolLabel(Symbol::trash, ViewColors::secondary(), 40, m_emptyState);
    emptyColumn->addWidget(m_emptySymbol, 0, Qt::AlignHCenter);
    m_emptyOverlay = new PlainLabel(m_emptyState);
    m_emptyOverlay->setAlignment(Qt::AlignCenter);
    m_emptyOverlay->setFont(ViewFonts::title3());
    emptyColumn->addWidget(m_emptyOverlay);
    emptyColumn->addStretch();
    static const bool accessibleRows = (QAccessible::installFactory(trashListAccessible), true);
    Q_UNUSED(accessibleRows);
    m_view = new TrashListView(this, listPage);
    m_view->setAccessibleName(QStringLiteral("回收站"));
    m_view->setModel(m_model);
    m_view->setItemDelegate(new TrashRowDelegate(m_view));
    m_view->setUniformItemSizes(true);
    m_view->setSelectionMode(QAbstractItemView::NoSelection);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    m_view->viewport()->installEventFilter(this);
    listLayout->addWidget(m_emptyState);
    listLayout->addWidget(m_view);
    m_emptyState->raise();
    m_stack->addWidget(listPage);

    connect(m_view, &QListView::customContextMenuRequested, this, [this](const QPoint &position) {
        if (const ManagedTrashEntry *entry = m_model->entryAt(m_view->indexAt(position))) {
            QMenu *menu = makeRowMenu(*entry, this);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(m_view->viewport()->mapToGlobal(position));
        }
    });
    if (m_store) {
        connect(m_store, &DeviceManagementStore::trashEntriesChanged, this, &ManagedTrashList::refresh);
        connect(m_store, &DeviceManagementStore::isLoadingTrashChanged, this, &ManagedTrashList::refresh);
        connect(m_store, &DeviceManagementStore::trashQueryChanged, this, &ManagedTrashList::refresh);
    }
    refresh();
}

void ManagedTrashList::refresh()
{
    const QList<ManagedTrashEntry> entries = m_store ? m_store->trashEntries() : QList<ManagedTrashEntry>();
    const bool loading = m_store && m_store->isLoadingTrash();
    m_stack->setCurrentWidget(
        trashListState(loading, !entries.isEmpty()) == TrashListState::loading ? m_loadingView : m_stack->widget(1));
    m_model->setEntries(entries);
    // "No match" belongs to a list that was searched, not to text typed since.
    const std::optional<QString> title =
        trashEmptyTitle(!entries.isEmpty(), m_store ? m_store->listedTrashQuery() : QString());
    m_emptyOverlay->setText(title.value_or(QString()));
    m_emptyOverlay->setVisible(title.has_value());
    m_emptySymbol->setVisible(title.has_value());
    m_emptyState->raise();
}

bool ManagedTrashList::showsLoading() const
{
    return m_stack->currentWidget() == m_loadingView;
}

void ManagedTrashList::restoreKeepingBoth(const ManagedTrashEntry &entry)
{
    if (m_store) {
        m_store->restore(entry, ManagedConflictPolicy::keepBoth);
    }
}

QMenu *ManagedTrashList::makeRowMenu(const ManagedTrashEntry &entry, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    for (const TrashRowMenuItem &item : trashRowMenuItems()) {
        QAction *action = menu->addAction(item.title);
        action->setData(int(item.command));
        connect(action, &QAction::triggered, this, [this, command = item.command, entry] {
            if (command == TrashRowCommand::restoreKeepingBoth) {
                restoreKeepingBoth(entry);
            } else {
                emit replacingTrashEntryRequested(entry);
            }
        });
    }
    return menu;
}

QRect ManagedTrashList::restoreButtonRect(int row) const
{
    return restoreRectIn(m_view->visualRect(m_model->index(row)));
}

bool ManagedTrashList::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view->viewport() && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const QModelIndex index = m_view->indexAt(mouse->position().toPoint());
        const ManagedTrashEntry *entry = m_model->entryAt(index);
        if (mouse->button() == Qt::LeftButton && entry &&
            restoreButtonRect(index.row()).contains(mouse->position().toPoint())) {
            restoreKeepingBoth(*entry);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
