#pragma once

#include <QWidget>

class QToolButton;
class QVBoxLayout;

// A labelled group whose content shows only while it is expanded; collapsed at first. The label is a button
// with a disclosure arrow that the mouse, Space, Return and Enter toggle; assistive tools read it as an expandable
// button that says whether it is expanded. The group keeps no other state.
class DisclosureGroup : public QWidget
{
    Q_OBJECT

public:
    // `contentTopPadding`: the space between the label and the content.
    DisclosureGroup(const QString &title, int contentTopPadding, QWidget *parent = nullptr);

    void setTitle(const QString &title);
    QString title() const;
    QToolButton *toggle() const { return m_toggle; }

    // The content's layout; the group owns what is added to it.
    QVBoxLayout *contentLayout() const { return m_contentLayout; }
    QWidget *content() const { return m_content; }

    bool isExpanded() const;
    void setExpanded(bool expanded);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QToolButton *m_toggle = nullptr;
    QWidget *m_content = nullptr;
    QVBoxLayout *m_contentLayout = nullptr;
};
