#include "HomeQuickAction.h"

#include "CardStyle.h"
#include "PlainLabel.h"
#include "SymbolIcon.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QHBoxLayout>
#include <QLabel>

namespace {

constexpr int symbolColumnWidth = 30;
constexpr int chevronPixels = 12;
constexpr int horizontalPadding = 16;
constexpr qreal tileRadius = 14;

} // namespace

HomeQuickAction::HomeQuickAction(const QString &title, const QString &icon, bool isPrimary,
                                 std::function<void()> action, QWidget *parent)
    : TileButton(parent), m_icon(icon), m_isPrimary(isPrimary)
{
    setText(title);
    setAccessibleName(title);
    setCursor(Qt::PointingHandCursor);
    setMinimumHeight(minimumTileHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    const QColor symbolColor = isPrimary ? ViewColors::blue() : palette().color(QPalette::WindowText);
    QLabel *symbol = new PlainLabel(this);
    symbol->setAlignment(Qt::AlignCenter);
    symbol->setFixedWidth(symbolColumnWidth);
    symbol->setPixmap(SymbolIcon::pixmap(SymbolIcon::named(icon).value_or(Symbol::circle), symbolColor,
                                         CardStyle::title3SymbolPixels, devicePixelRatioF()));
    QLabel *titleLabel = new PlainLabel(title, this);
    titleLabel->setFont(ViewFonts::body(QFont::Medium));
    auto *chevron = CardStyle::symbolLabel(Symbol::chevronRight, ViewColors::tertiary(), chevronPixels, this);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(horizontalPadding, 0, horizontalPadding, 0);
    row->setSpacing(12);
    row->addWidget(symbol);
    row->addWidget(titleLabel);
    row->addStretch(1);
    row->addWidget(chevron);
    for (QLabel *child : {symbol, titleLabel, chevron}) {
        // A click anywhere on the tile is the tile's.
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    connect(this, &QAbstractButton::clicked, this, [action = std::move(action)] {
        if (action) {
            action();
        }
    });
}

QSize HomeQuickAction::sizeHint() const
{
    const QSize content = layout()->sizeHint();
    return {content.width(), std::max(content.height(), minimumTileHeight)};
}

void HomeQuickAction::paintEvent(QPaintEvent *)
{
    const QColor fill = m_isPrimary ? CardStyle::withOpacity(ViewColors::blue(), 0.08)
                                    : CardStyle::withOpacity(CardStyle::controlBackground(this), 0.55);
    const QColor outline = m_isPrimary ? CardStyle::withOpacity(ViewColors::blue(), 0.25)
                                       : CardStyle::withOpacity(CardStyle::separator(this), 0.45);
    CardStyle::paintPanel(this, tileRadius, fill, outline);
    paintFocusRing(tileRadius);
}
