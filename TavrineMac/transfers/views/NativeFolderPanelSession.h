#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>
#include <optional>

class ElidedLabel;
class QLabel;
class QListWidget;
class QPushButton;
class QToolButton;

// A small browser of the folders on this computer that picks the folder a download goes to. It opens
// on the Downloads folder, lists the visible real sub-folders of the folder it shows, steps into one on
// double-click and back with the back button, and hands on the folder shown when the user confirms.
// Links are never shown or handed on, and only a writable folder can be chosen.
class NativeFolderPanelSession : public QDialog
{
    Q_OBJECT

public:
    using Completion = std::function<void(std::optional<QString> folder)>;

    static constexpr QSize panelSize{620, 460};

    // `completion` runs exactly once, with the chosen folder or with none when the user cancelled.
    // `startDirectory` replaces the Downloads folder (tests).
    explicit NativeFolderPanelSession(Completion completion, std::optional<QString> startDirectory = std::nullopt);
    NativeFolderPanelSession() = delete;

    // A window-modal sheet on the active window, else on the first visible main window; free-standing
    // and centred on the screen when there is no window at all.
    void present();

    const QString &currentDirectory() const { return m_currentDirectory; }
    const QStringList &directories() const { return m_directories; }
    bool isFinished() const { return m_finished; }

public slots:
    // Enters the sub-folder of `row`; a row outside the list does nothing.
    void openDirectory(int row);
    // Enters the selected sub-folder, if a row is selected.
    void openSelectedDirectory();
    void goBack();
    void chooseCurrentDirectory();
    void cancel();

protected:
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildInterface();
    void reload();
    void finish(const std::optional<QString> &folder);

    QListWidget *m_tableView = nullptr;
    ElidedLabel *m_pathLabel = nullptr;
    QLabel *m_statusLabel = nullptr;
    QToolButton *m_backButton = nullptr;
    QPushButton *m_chooseButton = nullptr;
    Completion m_completion;
    QString m_currentDirectory;
    QStringList m_directories;
    bool m_finished = false;
};
