#include "X11Desktop.h"

#include <QGuiApplication>

// After Qt: the X11 headers define macros such as None and Bool.
#include <X11/Xlib.h>

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
