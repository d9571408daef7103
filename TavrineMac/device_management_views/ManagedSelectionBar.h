#pragma once

#include <QPointer>
#include <QWidget>

class ManagedFileBrowser;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QToolButton;

// The bar under the file content while entries are selected: the summary (a button that clears the selection,
// "已选择 N 项" and the total size when known) and the four actions, as buttons when they fit the width and as
// the menu "所选项目操作" when they do not. It acts through the browser whose selection it shows.
class ManagedSelectionBar : public QWidget
{
    Q_OBJECT

public:
    explicit ManagedSelectionBar(ManagedFileBrowser *browser, QWidget *parent = nullptr);

    // Redraws from the browser's selection (done on its selectionChanged signal).
    void refresh();
    // True while the four buttons are shown; false while the narrow layout's menu is.
    bool showsButtons() const;

    // For tests.
    QLabel *countLabel() const { return m_countLabel; }
    QLabel *bytesLabel() const { return m_bytesLabel; }
    QToolButton *clearButton() const { return m_clearButton; }
    QToolButton *menuButton() const { return m_menuButton; }
    const QList<QPushButton *> &actionButtons() const { return m_actionButtons; }

protected:
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateLayout();
    // One height for both arrangements, whichever shows: the bar changes between them as the window is resized or
    // the summary grows, and what lies above it must not move.
    void keepOneHeight();

    QPointer<ManagedFileBrowser> m_browser;
    QToolButton *m_clearButton = nullptr;
    QLabel *m_countLabel = nullptr;
    QLabel *m_bytesLabel = nullptr;
    QList<QPushButton *> m_actionButtons;
    QToolButton *m_menuButton = nullptr;
};
