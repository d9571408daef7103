#include "X11Desktop.h"

#include <QColor>
#include <QGuiApplication>
#include <QWidget>

// After Qt: the X11 headers define macros such as None and Bool.
#include <X11/Xlib.h>
#include <xcb/xcb.h>

#include <bit>

Display *x11Display()
{
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb")) {
        return nullptr;
    }
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

bool isPointerButtonHeldOnDesktop()
{
    Display *display = x11Display();
    if (!display) {
        return false;
    }
    Window root = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int mask = 0;
    const bool onScreen =
        XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &windowX, &windowY, &mask);
    return onScreen && (mask & (Button1Mask | Button2Mask | Button3Mask)) != 0;
}

void flushX11Requests()
{
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb")) {
        return;
    }
    if (const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
        xcb_flush(x11->connection());
    }
}

namespace {

// `component` (0 to 255) placed under `mask`, as a direct-colour visual wants it.
unsigned long scaledToMask(int component, unsigned long mask)
{
    if (mask == 0) {
        return 0;
    }
    const int shift = std::countr_zero(mask);
    const unsigned long largest = mask >> shift;
    return ((unsigned long)(component)*largest / 255u) << shift;
}

} // namespace

void setX11WindowBackground(QWidget &window, const std::optional<QColor> &color)
{
    Display *display = x11Display();
    if (!display) {
        return;
    }
    const Window native = Window(window.winId());
    if (!color) {
        XSetWindowBackgroundPixmap(display, native, None);
        return;
    }
    // The toolkit's windows without transparency have the screen's own visual.
    const Visual *visual = DefaultVisual(display, DefaultScreen(display));
    if (!visual || visual->c_class != TrueColor) {
        return;
    }
    const QColor rgb = color->toRgb();
    XSetWindowBackground(display, native,
                         scaledToMask(rgb.red(), visual->red_mask) | scaledToMask(rgb.green(), visual->green_mask) |
                             scaledToMask(rgb.blue(), visual->blue_mask));
}
