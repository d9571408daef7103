#include "CardButton.h"

namespace {

constexpr int largeControlHeight = 32;
constexpr int regularSidePadding = 6;
constexpr int largeSidePadding = 12;

} // namespace

CardButton::CardButton(Kind kind, Size size, const QColor &tint, const QString &title, QWidget *parent)
    : FlatButton(title, parent), m_kind(kind), m_size(size)
{
    setFlat(kind == Kind::borderless);
    // Only the enabled look is tinted: a disabled button keeps the style's own greyed look.
    QPalette palette = this->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        if (kind == Kind::prominent) {
            palette.setColor(group, QPalette::Button, tint);
            palette.setColor(group, QPalette::ButtonText, Qt::white);
        } else if (kind == Kind::borderless) {
            palette.setColor(group, QPalette::ButtonText, tint);
        }
    }
    setPalette(palette);
    if (kind == Kind::borderless) {
        setCursor(Qt::PointingHandCursor);
    }
}

QSize CardButton::sizeHint() const
{
    QSize size = QPushButton::sizeHint();
    if (m_kind != Kind::borderless) {
        size.rwidth() += 2 * (m_size == Size::large ? largeSidePadding : regularSidePadding);
    }
    if (m_size == Size::large) {
        size.setHeight(std::max(size.height(), largeControlHeight));
    }
    return size;
}

QSize CardButton::minimumSizeHint() const
{
    return sizeHint();
}
