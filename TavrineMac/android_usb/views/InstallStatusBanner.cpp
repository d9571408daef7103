#include "InstallStatusBanner.h"

#include "SpinningIndicator.h"

#include <QLabel>

InstallStatusBanner::InstallStatusBanner(QWidget *parent) : StatusBanner(parent)
{
    setObjectName(QStringLiteral("installStatusBanner"));
    spinner()->setObjectName(QStringLiteral("installSpinner"));
    symbolLabel()->setObjectName(QStringLiteral("installSymbol"));
    titleLabel()->setObjectName(QStringLiteral("installTitleLabel"));
    textLabel()->setObjectName(QStringLiteral("installTextLabel"));
}

void InstallStatusBanner::setState(const DeviceStore::InstallState &state)
{
    setStyle(DeviceDashboardPresentation::installBanner(state));
}
