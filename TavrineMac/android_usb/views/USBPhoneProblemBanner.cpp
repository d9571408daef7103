#include "USBPhoneProblemBanner.h"

#include "DeviceStore.h"

USBPhoneProblemBanner::USBPhoneProblemBanner(DeviceStore *store, QWidget *parent) : StatusBanner(parent), m_store(store)
{
    setObjectName(QStringLiteral("usbPhoneProblemBanner"));
    if (m_store) {
        connect(m_store, &DeviceStore::usbPhoneProblemChanged, this, &USBPhoneProblemBanner::render);
    }
    render();
}

void USBPhoneProblemBanner::render()
{
    setStyle(DeviceDashboardPresentation::usbPhoneProblemBanner(m_store ? m_store->usbPhoneProblem() : std::nullopt));
}
