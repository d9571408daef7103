#include "ManagementMessageBar.h"

#include "CardStyle.h"
#include "PlainLabel.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPainter>
#include <QStringList>
#include <QTextLayout>

#include <QToolButton>
#include <algorithm>

namespace {

constexpr qreal backgroundOpacity = 0.08;
constexpr int horizontalPadding = 18;
constexpr int verticalPadding = 10;
constexpr int itemSpacing = 10;
constexpr int symbolPixels = 16;

} // namespace

std::optional<ManagementMessageBar::Content>
ManagementMessageBar::contentFor(const std::optional<QString> &errorMessage, const std::optional<QString> &message)
{
    if (errorMessage) {
        return Content{*errorMessage, true};
    }
    if (message) {
        return Content{*message, false};
    }
    return std::nullopt;
}

Symbol ManagementMessageBar::symbol(bool isError)
{
    return isError ? Symbol::exclamationmarkTriangleFill : Symbol::checkmarkCircleFill;
}

QColor ManagementMessageBar::tint(bool isError)
{
    return isError ? ViewColors::red() : ViewColors::green();
}

QString ManagementMessageBar::elidedLines(const QString &text, const QFont &font, int width, int maximumLines)
{
    if (width <= 0 || maximumLines < 1) {
        return text;
    }
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() + 1 == maximumLines) {
            // The last line allowed takes the rest of the text, shortened to fit.
            const QString rest = text.mid(line.textStart()).simplified();
            lines.append(QFontMetrics(font).elidedText(rest, Qt::ElideRight, width));
            break;
        }
        lines.append(text.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    return lines.join(u'\n');
}

ManagementMessageBar::ManagementMessageBar(const QString &text, bool isError, std::function<void()> dismiss,
                                           QWidget *parent)
    : QWidget(parent), m_dismiss(std::move(dismiss))
{
    setObjectName(QStringLiteral("managementMessageBar"));
    setFont(ViewFonts::callout());

    m_symbolLabel = new PlainLabel(this);
    m_symbolLabel->setObjectName(QStringLiteral("messageSymbol"));
    m_symbolLabel->setFixedSize(symbolPixels, symbolPixels);

    m_textLabel = new PlainLabel(this);
    m_textLabel->setObjectName(QStringLiteral("messageText"));
    m_textLabel->setWordWrap(true);
    m_textLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    m_closeButton = new QToolButton(this);
    m_closeButton->setObjectName(QStringLiteral("messageCloseButton"));
    m_closeButton->setText(QStringLiteral("关闭"));
    m_closeButton->setToolTip(QStringLiteral("关闭"));
    m_closeButton->setAccessibleName(QStringLiteral("关闭"));
    m_closeButton->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_closeButton->setAutoRaise(true);
    m_closeButton->setCursor(Qt::PointingHandCursor);
    connect(m_closeButton, &QToolButton::clicked, this, [this] {
        if (m_dismiss) {
            m_dismiss();
        }
    });

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(horizontalPadding, verticalPadding, horizontalPadding, verticalPadding);
    layout->setSpacing(itemSpacing);
    layout->addWidget(m_symbolLabel, 0, Qt::AlignVCenter);
    layout->addWidget(m_textLabel, 1, Qt::AlignVCenter);
    layout->addWidget(m_closeButton, 0, Qt::AlignVCenter);

    keepHeightOfLongestMessage();
    setMessage(text, isError);
}

void ManagementMessageBar::keepHeightOfLongestMessage()
{
    if (!m_textLabel || !m_closeButton) {
        return; // still being made
    }
    const int content = std::max({maximumLineCount * m_textLabel->fontMetrics().lineSpacing(),
                                  m_closeButton->sizeHint().height(), symbolPixels});
    setFixedHeight(content + 2 * verticalPadding);
}

void ManagementMessageBar::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        keepHeightOfLongestMessage();
    }
}

void ManagementMessageBar::setMessage(const QString &text, bool isError)
{
    m_text = text;
    m_isError = isError;
    const QColor color = tint(isError);
    CardStyle::setSymbol(m_symbolLabel, symbol(isError), color, symbolPixels);
    CardStyle::setTextColor(m_textLabel, color);
    m_closeButton->setIcon(SymbolIcon::icon(Symbol::xmark, color));
    m_textLabel->setToolTip(plainToolTip(text));
    updateShownText();
    update();
}

void ManagementMessageBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), CardStyle::withOpacity(tint(m_isError), backgroundOpacity));
}

void ManagementMessageBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateShownText();
}

void ManagementMessageBar::updateShownText()
{
    m_textLabel->setText(
        elidedLines(m_text, m_textLabel->font(), m_textLabel->contentsRect().width(), maximumLineCount));
}
