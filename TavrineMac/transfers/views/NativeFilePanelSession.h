#pragma once

#include "FilePanelChecks.h"

#include <QDialog>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class NativeOpenPanel;

// One open panel while it is shown: it checks every item the user tries to confirm and reports the
// panel's end once, on a later turn of the event loop.
class NativeFilePanelSession : public QObject
{
    Q_OBJECT

public:
    using Completion = std::function<void(QDialog::DialogCode response, const QList<QUrl> &urls)>;

    // Takes the panel over; it is deleted with the session.
    NativeFilePanelSession(NativeOpenPanel *panel, Completion completion);
    NativeFilePanelSession() = delete;
    ~NativeFilePanelSession() override;

    NativeOpenPanel *panel() const { return m_panel; }

    // Shows the panel, free-standing and without blocking.
    void begin();
    std::optional<FilePanelError> validateChosenURL(const QUrl &url) const;

private:
    QPointer<NativeOpenPanel> m_panel;
    Completion m_completion;
};
