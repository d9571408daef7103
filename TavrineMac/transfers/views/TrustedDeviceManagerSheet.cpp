#include "TrustedDeviceManagerSheet.h"

#include "FlatButton.h"
#include "PlainLabel.h"
#include "SectionScrollArea.h"
#include "TrustedDeviceManager.h"
#include "ViewFonts.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

TrustedDeviceManagerSheet::TrustedDeviceManagerSheet(TransferStore *store, std::function<void()> addDevice,
                                                     QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("trustedDeviceManagerSheet"));
    setWindowTitle(QStringLiteral("已信任设备"));
    setWindowModality(Qt::WindowModal);
    setFixedSize(sheetSize);

    auto *titleLabel = new PlainLabel(QStringLiteral("已信任设备"), this);
    titleLabel->setObjectName(QStringLiteral("titleLabel"));
    titleLabel->setFont(ViewFonts::body(QFont::DemiBold));

    auto *doneButton = new FlatButton(QStringLiteral("完成"), this);
    doneButton->setObjectName(QStringLiteral("doneButton"));
    doneButton->setFlat(false);
    doneButton->setDefault(true);
    connect(doneButton, &QPushButton::clicked, this, &QDialog::accept);

    auto *toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(16, 10, 12, 10);
    toolbar->addWidget(titleLabel);
    toolbar->addStretch(1);
    toolbar->addWidget(doneButton);

    auto *content = new QWidget;
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(24, 24, 24, 24);
    m_manager = new TrustedDeviceManager(store, false, std::move(addDevice), content);
    contentLayout->addWidget(m_manager);

    auto *scrollArea = new SectionScrollArea(windowTitle(), this);
    scrollArea->setObjectName(QStringLiteral("trustedDeviceScrollArea"));
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setWidgetResizable(true);
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scrollArea->setWidget(content);

    auto *separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(toolbar);
    layout->addWidget(separator);
    layout->addWidget(scrollArea, 1);
}
