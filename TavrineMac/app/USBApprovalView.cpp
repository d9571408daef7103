#include "USBApprovalView.h"

#include "CardStyle.h"
#include "PlainLabel.h"
#include "SidebarAndPairingPresentation.h"
#include "SpinningIndicator.h"
#include "SymbolTile.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace SidebarAndPairingPresentation;

namespace {

constexpr int numberSide = 30;
constexpr int stepSpacing = 14;
// The divider starts under the step's text, past the number badge.
constexpr int dividerIndent = 44;

QLabel *wrappedText(const QString &text, const QFont &font, Qt::Alignment alignment, QWidget *parent)
{
    auto *label = new PlainLabel(text, parent);
    label->setFont(font);
    label->setAlignment(alignment);
    label->setWordWrap(true);
    return label;
}

// One step: its number on a blue circle, its title over its detail.
QWidget *setupStep(const SetupStepText &step, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 10, 0, 10);
    layout->setSpacing(stepSpacing);
    auto *number = new PlainLabel(QString::number(step.number), row);
    number->setFixedSize(numberSide, numberSide);
    number->setAlignment(Qt::AlignCenter);
    number->setFont(ViewFonts::callout(QFont::Bold));
    number->setStyleSheet(QStringLiteral("QLabel { color: white; background: %1; border-radius: %2px; }")
                              .arg(ViewColors::blue().name())
                              .arg(numberSide / 2));
    layout->addWidget(number, 0, Qt::AlignTop);
    auto *text = new QVBoxLayout;
    text->setSpacing(3);
    text->addWidget(wrappedText(step.title, ViewFonts::body(QFont::DemiBold), Qt::AlignLeft, row));
    QLabel *detail = wrappedText(step.detail, ViewFonts::body(), Qt::AlignLeft, row);
    CardStyle::setSecondary(detail);
    text->addWidget(detail);
    layout->addLayout(text, 1);
    return row;
}

QWidget *setupDivider(QWidget *parent)
{
    auto *holder = new QWidget(parent);
    auto *layout = new QHBoxLayout(holder);
    layout->setContentsMargins(dividerIndent, 0, 0, 0);
    auto *line = new QWidget(holder);
    line->setFixedHeight(1);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, CardStyle::separator(parent));
    line->setPalette(palette);
    line->setAutoFillBackground(true);
    layout->addWidget(line);
    return holder;
}

} // namespace

USBApprovalView::USBApprovalView(const USBAndroidDevice &phone, QWidget *parent) : QWidget(parent), m_phone(phone)
{
    QWidget *content = scrolledScreenContent(this, usbApprovalTitle(phone.productName));
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(screenMargin, screenMargin, screenMargin, screenMargin);
    column->setSpacing(20);

    column->addWidget(new SymbolTile({usbSymbol, Symbol::smartphone, ViewColors::blue(), 42,
                                      CardStyle::withOpacity(ViewColors::blue(), 0.09), 88, 28},
                                     content),
                      0, Qt::AlignHCenter);

    auto *heading = new QVBoxLayout;
    heading->setSpacing(8);
    // A long product name wraps rather than being cut.
    heading->addWidget(
        wrappedText(usbApprovalTitle(phone.productName), ViewFonts::title(QFont::Bold), Qt::AlignHCenter, content));
    QLabel *subtitle = wrappedText(usbApprovalSubtitle, ViewFonts::title3(QFont::Normal), Qt::AlignHCenter, content);
    CardStyle::setSecondary(subtitle);
    heading->addWidget(subtitle);
    column->addLayout(heading);

    m_stepsCard = new RoundedPanel(CardStyle::windowBackground(this), 22, std::nullopt, content);
    m_stepsCard->setMaximumWidth(maximumStepsWidth);
    m_stepsCard->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto *steps = new QVBoxLayout(m_stepsCard);
    steps->setContentsMargins(18, 18, 18, 18);
    steps->setSpacing(4);
    const QList<SetupStepText> stepTexts = usbApprovalSteps();
    for (qsizetype index = 0; index < stepTexts.size(); ++index) {
        if (index > 0)
            steps->addWidget(setupDivider(m_stepsCard));
        steps->addWidget(setupStep(stepTexts[index], m_stepsCard));
    }
    auto *shadow = new QGraphicsDropShadowEffect(m_stepsCard);
    shadow->setColor(QColor(0, 0, 0, qRound(0.06 * 255)));
    shadow->setBlurRadius(18);
    shadow->setOffset(0, 7);
    m_stepsCard->setGraphicsEffect(shadow);
    column->addLayout(centredUpToMaximumWidth(m_stepsCard));

    auto *waiting = new QHBoxLayout;
    waiting->setSpacing(9);
    waiting->addStretch();
    waiting->addWidget(new SpinningIndicator(14, content), 0, Qt::AlignVCenter);
    QLabel *waitingText = new PlainLabel(usbApprovalWaiting, content);
    CardStyle::setSecondary(waitingText);
    waiting->addWidget(waitingText, 0, Qt::AlignVCenter);
    waiting->addStretch();
    column->addLayout(waiting);
    column->addStretch();

}

void USBApprovalView::paintEvent(QPaintEvent *)
{
    CardStyle::paintScreenBackground(this, 0.35);
}
