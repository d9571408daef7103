#include "DisclosureGroup.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// The label of a group: a button that tells whether the group is open, as a tree's branch does.
class DisclosureToggleAccessible : public QAccessibleWidget
{
public:
    DisclosureToggleAccessible(QToolButton *toggle, DisclosureGroup *group)
        : QAccessibleWidget(toggle, QAccessible::Button), m_group(group)
    {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            return m_group->title();
        }
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.expandable = true;
        state.expanded = m_group->isExpanded();
        state.collapsed = !m_group->isExpanded();
        return state;
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (widget()->isEnabled()) {
            names.prepend(pressAction());
        }
        return names;
    }

    void doAction(const QString &actionName) override
    {
        if (actionName == pressAction()) {
            if (widget()->isEnabled()) {
                m_group->setExpanded(!m_group->isExpanded());
            }
            return;
        }
        QAccessibleWidget::doAction(actionName);
    }

private:
    DisclosureGroup *m_group;
};

QAccessibleInterface *disclosureToggleAccessible(const QString &, QObject *object)
{
    auto *toggle = qobject_cast<QToolButton *>(object);
    auto *group = toggle ? qobject_cast<DisclosureGroup *>(toggle->parent()) : nullptr;
    if (group && group->toggle() == toggle) {
        return new DisclosureToggleAccessible(toggle, group);
    }
    return nullptr;
}

} // namespace

DisclosureGroup::DisclosureGroup(const QString &title, int contentTopPadding, QWidget *parent) : QWidget(parent)
{
    static const bool accessibleInstalled = (QAccessible::installFactory(disclosureToggleAccessible), true);
    Q_UNUSED(accessibleInstalled)

    m_toggle = new QToolButton(this);
    m_toggle->setObjectName(QStringLiteral("disclosureToggle"));
    m_toggle->setText(title);
    m_toggle->setAutoRaise(true);
    m_toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_toggle->setArrowType(Qt::RightArrow);
    m_toggle->setCursor(Qt::PointingHandCursor);
    m_toggle->installEventFilter(this);

    m_content = new QWidget(this);
    m_content->setObjectName(QStringLiteral("disclosureContent"));
    m_contentLayout = new QVBoxLayout(m_content);
    m_contentLayout->setContentsMargins(0, contentTopPadding, 0, 0);
    m_content->hide();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_toggle, 0, Qt::AlignLeft);
    layout->addWidget(m_content);

    connect(m_toggle, &QToolButton::clicked, this, [this] { setExpanded(!isExpanded()); });
}

void DisclosureGroup::setTitle(const QString &title)
{
    m_toggle->setText(title);
}

QString DisclosureGroup::title() const
{
    return m_toggle->text();
}

bool DisclosureGroup::isExpanded() const
{
    return !m_content->isHidden();
}

void DisclosureGroup::setExpanded(bool expanded)
{
    if (expanded == isExpanded()) {
        return;
    }
    m_toggle->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    m_content->setVisible(expanded);
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.expanded = true;
        changed.collapsed = true;
        QAccessibleStateChangeEvent event(m_toggle, changed);
        QAccessible::updateAccessibility(&event);
    }
}

// A tool button takes Space alone; the label of a group opens and closes with Return and Enter too.
bool DisclosureGroup::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_toggle && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool isReturn = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (isReturn && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            if (!key->isAutoRepeat() && m_toggle->isEnabled()) {
                m_toggle->click();
            }
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
