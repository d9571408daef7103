#include "PairingSheet.h"

#include "CardButton.h"
#include "CardStyle.h"
#include "DeviceStore.h"
#include "PairingQRCodeView.h"
#include "PlainLabel.h"
#include "SidebarAndPairingPresentation.h"
#include "SpinningIndicator.h"
#include "SymbolTile.h"
#include "TransferStore.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QShowEvent>
#include <QUuid>
#include <QVBoxLayout>

#include <algorithm>

using namespace SidebarAndPairingPresentation;

namespace {

constexpr int sheetPadding = 24;
constexpr int sheetSpacing = 22;
constexpr int codePadding = 20;
constexpr int preparingHeight = 340;
constexpr int symbolPixels = 16;

QLabel *textLabel(const QString &text, const QFont &font, QWidget *parent)
{
    auto *label = new PlainLabel(text, parent);
    label->setFont(font);
    return label;
}

// A symbol followed by a text, as a label of the system shows them.
QWidget *symbolLabel(const QString &symbolName, Symbol fallback, const QString &text, const QFont &font,
                     const QColor &color, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(CardStyle::symbolLabel(symbolNamed(symbolName, fallback), color, symbolPixels, row));
    QLabel *label = textLabel(text, font, row);
    CardStyle::setTextColor(label, color);
    layout->addWidget(label);
    return row;
}

} // namespace

PairingSheet::PairingSheet(TransferStore *store, DeviceStore *deviceStore, std::function<void()> continueAction,
                           QWidget *parent)
    : QDialog(parent), m_store(store), m_deviceStore(deviceStore), m_continueAction(std::move(continueAction))
{
    setObjectName(QStringLiteral("pairingSheet"));
    setWindowModality(Qt::WindowModal);
    setFixedSize(sheetWidth, sheetHeight);
    const QColor secondary = color(Tint::secondary, palette());

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(sheetPadding, sheetPadding, sheetPadding, sheetPadding);
    layout->setSpacing(sheetSpacing);
    layout->addStretch();

    auto *header = new QVBoxLayout;
    header->setSpacing(4);
    m_title = textLabel({}, ViewFonts::title2(QFont::Bold), this);
    m_subtitle = textLabel({}, ViewFonts::body(), this);
    m_subtitle->setWordWrap(true);
    CardStyle::setSecondary(m_subtitle);
    header->addWidget(m_title);
    header->addWidget(m_subtitle);
    layout->addLayout(header);

    // The code on white, as scanners read it best, lifted off the sheet by a faint shadow.
    m_codeCard = new RoundedPanel(Qt::white, 24, std::nullopt, this);
    auto *cardLayout = new QVBoxLayout(m_codeCard);
    cardLayout->setContentsMargins(codePadding, codePadding, codePadding, codePadding);
    m_codeView = new PairingQRCodeView(m_codeCard);
    m_codeView->setFixedSize(codeSide, codeSide);
    cardLayout->addWidget(m_codeView);
    auto *shadow = new QGraphicsDropShadowEffect(m_codeCard);
    shadow->setColor(QColor(0, 0, 0, qRound(0.08 * 255)));
    shadow->setBlurRadius(18);
    shadow->setOffset(0, 8);
    m_codeCard->setGraphicsEffect(shadow);
    layout->addWidget(m_codeCard, 0, Qt::AlignHCenter);

    m_failure = new QWidget(this);
    auto *failureLayout = new QVBoxLayout(m_failure);
    failureLayout->setSpacing(8);
    failureLayout->addWidget(CardStyle::symbolLabel(symbolNamed(failureSymbol, Symbol::wifiSlash), secondary, 44,
                                                    m_failure),
                             0, Qt::AlignHCenter);
    failureLayout->addWidget(textLabel(failureTitle, ViewFonts::title2(QFont::Bold), m_failure), 0, Qt::AlignHCenter);
    m_failureMessage = textLabel({}, ViewFonts::body(), m_failure);
    m_failureMessage->setAlignment(Qt::AlignHCenter);
    m_failureMessage->setWordWrap(true);
    CardStyle::setSecondary(m_failureMessage);
    failureLayout->addWidget(m_failureMessage);
    layout->addWidget(m_failure);

    m_preparing = new QWidget(this);
    m_preparing->setFixedHeight(preparingHeight);
    auto *preparingLayout = new QVBoxLayout(m_preparing);
    preparingLayout->addStretch();
    preparingLayout->addWidget(new SpinningIndicator(24, m_preparing), 0, Qt::AlignHCenter);
    QLabel *preparingLabel = textLabel(preparingText, ViewFonts::body(), m_preparing);
    CardStyle::setSecondary(preparingLabel);
    preparingLayout->addWidget(preparingLabel, 0, Qt::AlignHCenter);
    preparingLayout->addStretch();
    layout->addWidget(m_preparing);

    m_confirmation = new RoundedPanel(CardStyle::withOpacity(ViewColors::blue(), 0.07), 14, std::nullopt, this);
    auto *confirmationLayout = new QVBoxLayout(m_confirmation);
    confirmationLayout->setContentsMargins(22, 12, 22, 12);
    confirmationLayout->setSpacing(5);
    QLabel *codeLabel = textLabel(confirmationCodeLabel, ViewFonts::caption(), m_confirmation);
    CardStyle::setSecondary(codeLabel);
    confirmationLayout->addWidget(codeLabel, 0, Qt::AlignHCenter);
    m_code = textLabel({}, ViewFonts::title(QFont::Bold), m_confirmation);
    m_code->setObjectName(QStringLiteral("confirmationCode"));
    // An empty code still keeps its line.
    m_code->setMinimumHeight(m_code->fontMetrics().height());
    confirmationLayout->addWidget(m_code, 0, Qt::AlignHCenter);
    layout->addWidget(m_confirmation, 0, Qt::AlignHCenter);

    m_companionStatus = new QWidget(this);
    auto *statusLayout = new QHBoxLayout(m_companionStatus);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(9);
    m_companionSpinner = new SpinningIndicator(14, m_companionStatus);
    m_companionSymbol = new PlainLabel(m_companionStatus);
    m_companionSymbol->setFixedSize(symbolPixels, symbolPixels);
    m_companionText = textLabel({}, ViewFonts::callout(), m_companionStatus);
    statusLayout->addWidget(m_companionSpinner);
    statusLayout->addWidget(m_companionSymbol);
    statusLayout->addWidget(m_companionText);
    layout->addWidget(m_companionStatus, 0, Qt::AlignHCenter);

    auto *footer = new QHBoxLayout;
    auto *cancelButton = new QPushButton(cancelTitle, this);
    cancelButton->setAutoDefault(false);
    connect(cancelButton, &QPushButton::clicked, this, &PairingSheet::cancel);
    footer->addWidget(cancelButton, 0, Qt::AlignVCenter);
    footer->addWidget(symbolLabel(footerNoteSymbol, Symbol::checkmarkShieldFill, footerNote, ViewFonts::callout(),
                                  secondary, this),
                      0, Qt::AlignVCenter);
    footer->addStretch();
    m_footerButton = new CardButton(CardButton::Kind::prominent, CardButton::Size::regular, ViewColors::blue(), {},
                                    this);
    m_footerButton->setAutoDefault(false);
    connect(m_footerButton, &QPushButton::clicked, this, [this] {
        if (!m_store)
            return;
        const FooterAction action = footerAction(m_store->phase());
        if (action == FooterAction::retry)
            retryPairing();
        else if (action == FooterAction::chooseFiles && m_continueAction)
            m_continueAction();
    });
    footer->addWidget(m_footerButton, 0, Qt::AlignVCenter);
    layout->addLayout(footer);
    layout->addStretch();

    if (m_store) {
        for (const auto signal : {&TransferStore::phaseChanged, &TransferStore::pairingPayloadChanged,
                                  &TransferStore::confirmationCodeChanged})
            connect(m_store, signal, this, &PairingSheet::render);
    }
    if (m_deviceStore) {
        for (const auto signal : {&DeviceStore::companionInstallStateChanged, &DeviceStore::pairingLaunchMessageChanged})
            connect(m_deviceStore, signal, this, &PairingSheet::render);
    }
    connect(this, &QDialog::finished, this, &PairingSheet::endUnfinishedPairing);
    render();
}

void PairingSheet::cancel()
{
    reject();
}

void PairingSheet::retryPairing()
{
    if (!m_store)
        return;
    m_store->stopHost();
    m_store->setPendingPairingDeviceID(QUuid::createUuid().toString(QUuid::WithoutBraces).toLower());
    m_store->startHost(false, QString());
}

void PairingSheet::endUnfinishedPairing()
{
    if (!m_store)
        return;
    switch (m_store->phase().kind) {
    case TransferStore::Phase::Kind::connected:
        return; // the pairing completed
    case TransferStore::Phase::Kind::reconnecting:
        if (m_store->hasHost())
            return; // the trusted phone's host runs already
        break;
    default:
        break;
    }
    // The code this sheet showed is withdrawn: no phone may pair through it once the sheet is gone, also one that
    // had begun confirming, and a USB set-up under way must not open the phone's application with it.
    if (m_deviceStore)
        m_deviceStore->withdrawCompanionPairing();
    if (m_store->hasHost())
        m_store->stopHost();
    m_store->setPendingPairingDeviceID(std::nullopt);
    // The pairing host had replaced the selected trusted phone's host; that phone gets its link back.
    const std::optional<QString> &selectedID = m_store->selectedTrustedDeviceID();
    if (!selectedID)
        return;
    const QList<TrustedDeviceRecord> &devices = m_store->trustedDevices();
    const auto selected = std::find_if(devices.begin(), devices.end(),
                                       [&](const TrustedDeviceRecord &record) { return record.id == *selectedID; });
    if (selected == devices.end())
        return;
    const QString secret = selected->secret;
    // As choosing a trusted phone does: synchronous, so the sheet may be deleted right after closing, and a
    // start failure is published as the failed phase.
    m_store->startHost(true, secret);
}

void PairingSheet::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Only an appearance asked for by the window starts a pairing, not the desktop showing it again.
    if (!event->spontaneous() && m_store)
        m_store->beginNewPairing();
}

void PairingSheet::render()
{
    const TransferStore::Phase phase = m_store ? m_store->phase() : TransferStore::Phase::idle();
    const std::optional<QString> payload = m_store ? m_store->pairingPayload() : std::nullopt;
    const std::optional<QString> code = m_store ? m_store->confirmationCode() : std::nullopt;

    m_title->setText(pairingTitle(phase));
    // A screen reader names the sheet by the title it shows.
    setAccessibleName(m_title->text());
    m_subtitle->setText(pairingSubtitle(phase));

    const CodeArea area = codeArea(payload, phase);
    m_codeCard->setVisible(area == CodeArea::qrCode);
    m_codeView->setPayload(payload.value_or(QString()));
    m_failure->setVisible(area == CodeArea::failure);
    m_failureMessage->setText(area == CodeArea::failure ? phase.text : QString());
    m_preparing->setVisible(area == CodeArea::preparing);

    m_confirmation->setVisible(code.has_value());
    m_code->setText(formattedCode(code.value_or(QString())));

    const std::optional<CompanionStatus> status =
        m_deviceStore ? companionStatus(m_deviceStore->companionInstallState(), m_deviceStore->pairingLaunchMessage())
                      : std::nullopt;
    m_companionStatus->setVisible(status.has_value());
    if (status) {
        const QColor tint = color(status->tint, palette());
        m_companionSpinner->setVisible(status->showsSpinner);
        m_companionSymbol->setVisible(!status->showsSpinner);
        if (!status->showsSpinner)
            CardStyle::setSymbol(m_companionSymbol, symbolNamed(status->symbolName, Symbol::smartphone), tint,
                                 symbolPixels);
        m_companionText->setText(status->text);
        CardStyle::setTextColor(m_companionText, tint);
    }

    const FooterAction action = footerAction(phase);
    m_footerButton->setVisible(action != FooterAction::none);
    m_footerButton->setText(footerActionTitle(action));
}
