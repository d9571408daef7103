#pragma once

#include "FilePanelChecks.h"

#include <QFileDialog>

#include <functional>
#include <optional>

// Qt's own file dialog for choosing local files or folders, which lets the user confirm only items
// that pass its check; a refused item shows the reason and keeps the dialog open.
class NativeOpenPanel : public QFileDialog
{
    Q_OBJECT

public:
    struct Settings
    {
        QString title;
        QString message;
        QString prompt;
        bool canChooseFiles = true;
        bool canChooseDirectories = false;
    };

    using Check = std::function<std::optional<FilePanelError>(const QUrl &url)>;

    explicit NativeOpenPanel(const Settings &settings, QWidget *parent = nullptr);

    bool canChooseFiles() const { return m_settings.canChooseFiles; }
    bool canChooseDirectories() const { return m_settings.canChooseDirectories; }
    void setCheck(Check check) { m_check = std::move(check); }

    void accept() override;

private:
    Settings m_settings;
    Check m_check;
};
