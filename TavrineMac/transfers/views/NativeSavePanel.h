#pragma once

#include <QFileDialog>
#include <QMimeType>
#include <QUrl>

#include <optional>

// Qt's own save dialog for the single file of a download to this computer. It remembers the location the user
// confirmed, a taken name included; the location is checked by the caller.
class NativeSavePanel : public QFileDialog
{
    Q_OBJECT

public:
    NativeSavePanel(const QString &suggestedName, const QMimeType &contentType, QWidget *parent = nullptr);

    // The location the user confirmed; none until then, and after a cancel.
    const std::optional<QUrl> &chosenURL() const { return m_chosenURL; }

    void accept() override;

private:
    std::optional<QUrl> m_chosenURL;
};
