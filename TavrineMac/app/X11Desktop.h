#pragma once

// What the application asks of the X server beside its own windows; without an X11 session there is no answer.

typedef struct _XDisplay Display;

// The X connection of the application, when it runs on the X11 platform; none otherwise.
Display *x11Display();

// Whether a mouse button is held anywhere on the X display, in whichever application; false without X11.
bool isPointerButtonHeldOnDesktop();
