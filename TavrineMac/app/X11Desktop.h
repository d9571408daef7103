#pragma once

// What the application asks of the X server beside its own windows; without an X11 session there is no answer.

#include <optional>

typedef struct _XDisplay Display;
class QColor;
class QWidget;

// The X connection of the application, when it runs on the X11 platform; none otherwise.
Display *x11Display();

// Whether a mouse button is held anywhere on the X display, in whichever application; false without X11.
bool isPointerButtonHeldOnDesktop();

// Hands what the application has asked of the X server so far to it now, rather than when the event loop next waits.
void flushX11Requests();

// Has the X server fill `window`'s native window with `color` wherever the application has drawn nothing yet (a window
// just put on the screen), or leaves it as the application last drew it (nullopt, the toolkit's own setting). Nothing
// without X11 or where the screen's colours are not direct RGB.
void setX11WindowBackground(QWidget &window, const std::optional<QColor> &color);
