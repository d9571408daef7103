#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <functional>

// The one system-wide hot key of the application, Control+Alt+Space, grabbed on the X server's root
// window. Each press runs the stored action on the GUI thread, whichever application has the focus.
// Without an X11 session (another Qt platform, or no X display) the hot key cannot be registered.
class GlobalHotKeyRegistrar : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    using Action = std::function<void()>;

    explicit GlobalHotKeyRegistrar(QObject *parent = nullptr);
    ~GlobalHotKeyRegistrar() override;

    // Replaces any earlier registration; true when the key is grabbed. When another client already owns
    // the combination nothing stays registered and the action is dropped.
    bool registerHotKey(Action action);
    void unregister();
    bool isRegistered() const { return m_grabbedKeyCode != 0; }

    // Runs the stored action, if any.
    void performAction();

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    bool grab(unsigned int keyCode);
    void ungrab(unsigned int keyCode);

    unsigned int m_grabbedKeyCode = 0; // 0: nothing grabbed
    unsigned long m_rootWindow = 0;
    bool m_isFiltering = false;
    Action m_action;
};
