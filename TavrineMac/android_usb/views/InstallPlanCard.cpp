#include "InstallPlanCard.h"

#include "CardButton.h"
#include "CardStyle.h"
#include "DeviceDashboardPresentation.h"
#include "DisclosureGroup.h"
#include "ElidedLabel.h"
#include "PlainLabel.h"
#include "ViewFonts.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

using namespace DeviceDashboardPresentation;

namespace {

constexpr qreal cardRadius = 18;

} // namespace

InstallPlanCard::InstallPlanCard(std::function<void()> confirm, std::function<void()> cancel, QWidget *parent)
    : QWidget(parent), m_confirm(std::move(confirm)), m_cancel(std::move(cancel))
{
    setObjectName(QStringLiteral("installPlanCard"));

    auto *shield =
        CardStyle::symbolLabel(Symbol::checkmarkShieldFill, color(Tint::blue), CardStyle::title2SymbolPixels, this);
    shield->setObjectName(QStringLiteral("planSymbol"));

    // One line however long the phone's name: the whole stays in the tooltip, and the buttons stay in the window.
    m_headlineLabel = new ElidedLabel(Qt::ElideRight, this);
    m_headlineLabel->setObjectName(QStringLiteral("headlineLabel"));
    m_headlineLabel->setFont(ViewFonts::body(QFont::DemiBold));

    m_nameLabel = new ElidedLabel(Qt::ElideMiddle, this);
    m_nameLabel->setObjectName(QStringLiteral("planNameLabel"));
    m_nameLabel->setFont(ViewFonts::callout(QFont::Medium));

    m_detailLabel = new PlainLabel(this);
    m_detailLabel->setObjectName(QStringLiteral("planDetailLabel"));
    m_detailLabel->setFont(ViewFonts::caption());
    m_detailLabel->setWordWrap(true);
    CardStyle::setSecondary(m_detailLabel);

    auto *lines = new QVBoxLayout;
    lines->setSpacing(5);
    lines->addWidget(m_headlineLabel);
    lines->addWidget(m_nameLabel);
    lines->addWidget(m_detailLabel);

    auto *summary = new QHBoxLayout;
    summary->setSpacing(14);
    summary->addWidget(shield, 0, Qt::AlignTop);
    summary->addLayout(lines, 1);

    m_fileList = new DisclosureGroup(QString(), 8, this);
    m_fileList->setObjectName(QStringLiteral("planFileList"));
    m_fileList->toggle()->setFont(ViewFonts::callout());

    m_confirmButton = new CardButton(CardButton::Kind::prominent, CardButton::Size::regular, color(Tint::blue),
                                     planConfirmTitle, this);
    m_confirmButton->setObjectName(QStringLiteral("confirmInstallButton"));
    connect(m_confirmButton, &QPushButton::clicked, this, [this] {
        if (m_confirm) {
            m_confirm();
        }
    });
    m_cancelButton =
        new CardButton(CardButton::Kind::bordered, CardButton::Size::regular, color(Tint::blue), planCancelTitle, this);
    m_cancelButton->setObjectName(QStringLiteral("cancelInstallButton"));
    connect(m_cancelButton, &QPushButton::clicked, this, [this] {
        if (m_cancel) {
            m_cancel();
        }
    });
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_confirmButton);
    buttons->addWidget(m_cancelButton);
    buttons->addStretch(1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(14);
    layout->addLayout(summary);
    layout->addWidget(m_fileList);
    layout->addLayout(buttons);
}

void InstallPlanCard::setPlan(const APKInstallPlan &plan, const QString &deviceName)
{
    if (m_plan == plan && m_deviceName == deviceName) {
        return;
    }
    m_plan = plan;
    m_deviceName = deviceName;
    m_headlineLabel->setText(planHeadline(deviceName));
    m_nameLabel->setText(plan.displayName());
    m_detailLabel->setText(planDetailLine(plan));

    const std::optional<QString> listTitle = planFileListTitle(plan);
    m_fileList->setVisible(listTitle.has_value());
    m_fileList->setTitle(listTitle.value_or(QString()));
    // The list is rebuilt from the plan; the group keeps whether it is open.
    QLayoutItem *item = nullptr;
    while ((item = m_fileList->contentLayout()->takeAt(0))) {
        delete item->widget();
        delete item;
    }
    if (!listTitle) {
        return;
    }
    QFont monospaced = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (const qreal points = ViewFonts::caption().pointSizeF(); points > 0) {
        monospaced.setPointSizeF(points);
    }
    m_fileList->contentLayout()->setSpacing(2);
    for (const QString &name : planFileNames(plan)) {
        auto *line = new ElidedLabel(Qt::ElideMiddle, m_fileList->content());
        line->setObjectName(QStringLiteral("planFileLabel"));
        line->setFont(monospaced);
        line->setText(name);
        m_fileList->contentLayout()->addWidget(line);
    }
}

void InstallPlanCard::paintEvent(QPaintEvent *)
{
    const QColor blue = color(Tint::blue);
    CardStyle::paintPanel(this, cardRadius, CardStyle::withOpacity(blue, 0.07), CardStyle::withOpacity(blue, 0.18));
}
