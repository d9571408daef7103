#include "GlobalHotKey.h"
#include "X11Desktop.h"

#include <QCoreApplication>

// After Qt: the X11 headers define macros such as None and Bool.
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <xcb/xcb.h>

namespace {

constexpr unsigned int hotKeyModifiers = ControlMask | Mod1Mask;
// Modifiers that a press must not carry besides the hot key's own.
constexpr unsigned int comparedModifiers = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;
// The X server matches grabs on the exact modifier state, and Caps Lock and Num Lock are modifiers to it:
// the key is grabbed under each of their combinations so that it works whatever lock is on.
constexpr unsigned int lockModifierCombinations[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};

// The X server refuses a grab of a combination that another client holds with an error that arrives
// later; it is caught here while a grab is synchronised.
bool grabWasRefused = false;

int recordGrabError(Display *, XErrorEvent *error)
{
    if (error->error_code == BadAccess) {
        grabWasRefused = true;
    }
    return 0;
}

} // namespace

GlobalHotKeyRegistrar::GlobalHotKeyRegistrar(QObject *parent) : QObject(parent) {}

GlobalHotKeyRegistrar::~GlobalHotKeyRegistrar()
{
    unregister();
}

bool GlobalHotKeyRegistrar::registerHotKey(Action action)
{
    unregister();
    Display *display = x11Display();
    if (!display) {
        return false;
    }
    const KeyCode keyCode = XKeysymToKeycode(display, XK_space);
    if (keyCode == 0) {
        return false;
    }
    m_rootWindow = DefaultRootWindow(display);
    if (!grab(keyCode)) {
        return false;
    }
    m_grabbedKeyCode = keyCode;
    m_action = std::move(action);
    QCoreApplication::instance()->installNativeEventFilter(this);
    m_isFiltering = true;
    return true;
}

void GlobalHotKeyRegistrar::unregister()
{
    if (m_grabbedKeyCode != 0) {
        ungrab(m_grabbedKeyCode);
        m_grabbedKeyCode = 0;
    }
    if (m_isFiltering) {
        if (QCoreApplication *application = QCoreApplication::instance()) {
            application->removeNativeEventFilter(this);
        }
        m_isFiltering = false;
    }
    m_action = nullptr;
}

void GlobalHotKeyRegistrar::performAction()
{
    if (m_action) {
        // A copy: the action may register again and so replace itself.
        const Action action = m_action;
        action();
    }
}

bool GlobalHotKeyRegistrar::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (m_grabbedKeyCode == 0 || !message || eventType != "xcb_generic_event_t") {
        return false;
    }
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS) {
        return false;
    }
    const auto *press = static_cast<const xcb_key_press_event_t *>(message);
    if (press->detail != m_grabbedKeyCode || press->event != m_rootWindow ||
        (press->state & comparedModifiers) != hotKeyModifiers) {
        return false;
    }
    // The press is only handed on; the action runs on a later turn of the event loop.
    QMetaObject::invokeMethod(this, &GlobalHotKeyRegistrar::performAction, Qt::QueuedConnection);
    return true;
}

bool GlobalHotKeyRegistrar::grab(unsigned int keyCode)
{
    Display *display = x11Display();
    if (!display) {
        return false;
    }
    // Errors of earlier requests belong to whoever made them.
    XSync(display, False);
    grabWasRefused = false;
    const XErrorHandler previousHandler = XSetErrorHandler(recordGrabError);
    for (const unsigned int locks : lockModifierCombinations) {
        XGrabKey(display, int(keyCode), hotKeyModifiers | locks, m_rootWindow, False, GrabModeAsync, GrabModeAsync);
    }
    XSync(display, False);
    XSetErrorHandler(previousHandler);
    if (grabWasRefused) {
        // Releases the combinations that were granted; another client's grab is not touched.
        ungrab(keyCode);
        return false;
    }
    return true;
}

void GlobalHotKeyRegistrar::ungrab(unsigned int keyCode)
{
    Display *display = x11Display();
    if (!display) {
        return;
    }
    for (const unsigned int locks : lockModifierCombinations) {
        XUngrabKey(display, int(keyCode), hotKeyModifiers | locks, m_rootWindow);
    }
    XFlush(display);
}
