#pragma once

#include "ManagedContentCategory.h"

#include <QHash>
#include <QList>
#include <QWidget>

class ManagedFilesPane;
class QBoxLayout;
class QButtonGroup;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QToolButton;

// The files pane's header (way home, title "内容", search field, add or empty-trash action, refresh), its folder
// toolbar (back, folder and roots menu, sort menu, list or icon view, paste, new folder) and the category row
// (one chip per category, and the gallery layout picker for photos and videos). It keeps no state: render()
// redraws it from the pane, the pane's preferences and the store.
class FilesPaneToolbar : public QWidget
{
    Q_OBJECT

public:
    explicit FilesPaneToolbar(ManagedFilesPane *pane, QWidget *parent = nullptr);

    void render();

    // Controls, for tests.
    QToolButton *homeButton() const { return m_homeButton; }
    QLineEdit *searchField() const { return m_searchField; }
    QToolButton *addMenuButton() const { return m_addButton; }
    QPushButton *emptyTrashButton() const { return m_emptyTrashButton; }
    QToolButton *refreshButton() const { return m_refreshButton; }
    QWidget *folderToolbar() const { return m_folderToolbar; }
    QToolButton *backButton() const { return m_backButton; }
    QToolButton *folderMenuButton() const { return m_folderButton; }
    QToolButton *sortMenuButton() const { return m_sortButton; }
    QAction *sortDirectionAction() const { return m_sortDirectionAction; }
    QList<QToolButton *> viewStyleButtons() const { return m_viewStyleButtons; }
    QToolButton *pasteMenuButton() const { return m_pasteButton; }
    QToolButton *newFolderButton() const { return m_newFolderButton; }
    QToolButton *chip(ManagedContentCategory category) const { return m_chips.value(category); }
    QWidget *mediaLayoutPicker() const { return m_layoutPicker; }
    QList<QToolButton *> mediaLayoutButtons() const { return m_layoutButtons; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildHeader(QBoxLayout *column);
    void buildFolderToolbar(QBoxLayout *column);
    void buildCategoryRow(QBoxLayout *column);
    void renderRoots();
    void renderSortMenu();
    void arrangeTitleRow();
    void writeSearchText(const QString &text);

    ManagedFilesPane *m_pane;
    bool m_isNarrow = false;

    QToolButton *m_homeButton = nullptr;
    QWidget *m_titleRow = nullptr;
    QLabel *m_titleLabel = nullptr;
    QLineEdit *m_searchField = nullptr;
    QWidget *m_headerButtons = nullptr;
    QToolButton *m_addButton = nullptr;
    QPushButton *m_emptyTrashButton = nullptr;
    QToolButton *m_refreshButton = nullptr;

    QWidget *m_folderToolbar = nullptr;
    QToolButton *m_backButton = nullptr;
    QToolButton *m_folderButton = nullptr;
    QMenu *m_rootsMenu = nullptr;
    QToolButton *m_sortButton = nullptr;
    QMenu *m_sortMenu = nullptr;
    QAction *m_sortDirectionAction = nullptr;
    QList<QAction *> m_sortFieldActions;
    QList<QToolButton *> m_viewStyleButtons;
    QToolButton *m_pasteButton = nullptr;
    QToolButton *m_newFolderButton = nullptr;

    QHash<ManagedContentCategory, QToolButton *> m_chips;
    QScrollArea *m_chipStrip = nullptr;
    QWidget *m_layoutPicker = nullptr;
    QList<QToolButton *> m_layoutButtons;
};
