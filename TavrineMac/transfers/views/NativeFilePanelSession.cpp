#include "NativeFilePanelSession.h"

#include "NativeOpenPanel.h"

#include <QCoreApplication>

NativeFilePanelSession::NativeFilePanelSession(NativeOpenPanel *panel, Completion completion)
    : m_panel(panel), m_completion(std::move(completion))
{}

NativeFilePanelSession::~NativeFilePanelSession()
{
    if (m_panel) {
        m_panel->hide();
        m_panel->deleteLater();
    }
}

void NativeFilePanelSession::begin()
{
    m_panel->setCheck([this](const QUrl &url) { return validateChosenURL(url); });
    const QPointer<NativeFilePanelSession> session(this);
    connect(m_panel, &QDialog::finished, this, [session](int result) {
        if (!session || !session->m_panel) {
            return;
        }
        const QList<QUrl> urls = result == QDialog::Accepted ? session->m_panel->selectedUrls() : QList<QUrl>();
        const auto response = QDialog::DialogCode(result);
        // The caller may release the session from its completion; that must not happen inside the
        // panel's own signal.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [session, response, urls] {
                if (session && session->m_completion) {
                    const Completion completion = std::exchange(session->m_completion, nullptr);
                    completion(response, urls);
                }
            },
            Qt::QueuedConnection);
    });
    m_panel->show();
}

std::optional<FilePanelError> NativeFilePanelSession::validateChosenURL(const QUrl &url) const
{
    return FilePanelChecks::validateChosenURL(url, m_panel->canChooseFiles(), m_panel->canChooseDirectories());
}
