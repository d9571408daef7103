#pragma once

#include <QList>
#include <QWidget>

class QVBoxLayout;

// The bars under a section's content: the store's message, the transfer dock and the selection's actions. A bar that
// comes takes its place at the top of the column, next to the content, which gives up its lowest rows to it: the bars
// already shown stay where they are, and so does every row. The column takes no room while no bar shows.
class BottomBarColumn : public QWidget
{
    Q_OBJECT

public:
    explicit BottomBarColumn(QWidget *parent = nullptr);

    // Takes `bar` in under the bars it holds, shown or hidden as it was.
    void addBar(QWidget *bar);
    // Shows `bar` on top of the column when it comes, or hides it.
    void setBarShown(QWidget *bar, bool shown);
    // The bars it holds, top to bottom.
    QList<QWidget *> bars() const;
    bool isBarShown(const QWidget *bar) const;
    // Moves the bars of `from` that are among `bars` under those of `to`, in their order and each shown as it was.
    static void moveBars(BottomBarColumn *from, BottomBarColumn *to, const QList<QWidget *> &bars);

private:
    void renderColumn();

    QVBoxLayout *m_layout = nullptr;
};
