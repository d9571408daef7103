#include "NativeFolderPanelSession.h"

#include "ElidedLabel.h"
#include "FilePanelChecks.h"
#include "PlainLabel.h"
#include "SymbolIcon.h"
#include "ViewColors.h"
#include "ViewFonts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int rowHeight = 38;
constexpr int folderIconPixels = 20;

// Double-clicks on the empty part of the list enter the selected folder, like double-clicks on a row.
class EmptyAreaDoubleClickFilter : public QObject
{
public:
    EmptyAreaDoubleClickFilter(QListWidget *list, NativeFolderPanelSession *session)
        : QObject(list), m_list(list), m_session(session)
    {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonDblClick) {
            const auto *click = static_cast<QMouseEvent *>(event);
            if (!m_list->indexAt(click->position().toPoint()).isValid()) {
                m_session->openSelectedDirectory();
                return true;
            }
        }
        return false;
    }

private:
    QListWidget *m_list;
    NativeFolderPanelSession *m_session;
};

} // namespace

NativeFolderPanelSession::NativeFolderPanelSession(Completion completion, std::optional<QString> startDirectory)
    : m_completion(std::move(completion))
{
    m_currentDirectory = startDirectory.value_or(FilePanelChecks::initialDirectory(
        QStandardPaths::standardLocations(QStandardPaths::DownloadLocation), QDir::homePath()));
    resize(panelSize);
    buildInterface();
    reload();
}

void NativeFolderPanelSession::buildInterface()
{
    setWindowTitle(QStringLiteral("下载到电脑"));
    setSizeGripEnabled(false);

    m_backButton = new QToolButton(this);
    m_backButton->setObjectName(QStringLiteral("backButton"));
    m_backButton->setIcon(SymbolIcon::icon(Symbol::chevronLeft, palette().color(QPalette::WindowText), 16));
    m_backButton->setAccessibleName(QStringLiteral("返回上一级"));
    m_backButton->setToolTip(QStringLiteral("返回上一级"));
    m_backButton->setAutoRaise(true);
    m_backButton->setFixedSize(30, 30);
    connect(m_backButton, &QToolButton::clicked, this, &NativeFolderPanelSession::goBack);

    m_pathLabel = new ElidedLabel(Qt::ElideMiddle, this);
    m_pathLabel->setObjectName(QStringLiteral("pathLabel"));
    m_pathLabel->setFont(ViewFonts::body(QFont::Medium));

    auto *topRow = new QHBoxLayout;
    topRow->setSpacing(10);
    topRow->addWidget(m_backButton);
    topRow->addWidget(m_pathLabel, 1);

    m_tableView = new QListWidget(this);
    m_tableView->setObjectName(QStringLiteral("folderTable"));
    m_tableView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tableView->setUniformItemSizes(true);
    m_tableView->setSpacing(1);
    m_tableView->setIconSize(QSize(folderIconPixels, folderIconPixels));
    m_tableView->setTextElideMode(Qt::ElideMiddle);
    m_tableView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_tableView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_tableView->setStyleSheet(QStringLiteral("QListWidget#folderTable { border: 1px solid palette(mid); "
                                              "border-radius: 10px; background: palette(base); padding: 4px; }"));
    connect(m_tableView, &QListWidget::doubleClicked, this,
            [this](const QModelIndex &index) { openDirectory(index.row()); });
    m_tableView->viewport()->installEventFilter(new EmptyAreaDoubleClickFilter(m_tableView, this));

    m_statusLabel = new PlainLabel(this);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_statusLabel->setFont(ViewFonts::caption());
    QPalette statusPalette = m_statusLabel->palette();
    statusPalette.setColor(QPalette::WindowText, ViewColors::secondary());
    m_statusLabel->setPalette(statusPalette);

    auto *cancelButton = new QPushButton(QStringLiteral("取消"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setAutoDefault(false);
    connect(cancelButton, &QPushButton::clicked, this, &NativeFolderPanelSession::cancel);

    m_chooseButton = new QPushButton(QStringLiteral("下载到这里"), this);
    m_chooseButton->setObjectName(QStringLiteral("chooseButton"));
    m_chooseButton->setDefault(true);
    connect(m_chooseButton, &QPushButton::clicked, this, &NativeFolderPanelSession::chooseCurrentDirectory);

    auto *bottomRow = new QHBoxLayout;
    bottomRow->setSpacing(10);
    bottomRow->addWidget(m_statusLabel, 1);
    bottomRow->addWidget(cancelButton);
    bottomRow->addWidget(m_chooseButton);

    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(14);
    layout->setContentsMargins(20, 20, 20, 18);
    layout->addLayout(topRow);
    layout->addWidget(m_tableView, 1);
    layout->addLayout(bottomRow);
}

void NativeFolderPanelSession::reload()
{
    m_pathLabel->setText(QDir::toNativeSeparators(m_currentDirectory));
    m_backButton->setEnabled(FilePanelChecks::parentDirectory(m_currentDirectory) !=
                             QDir::cleanPath(m_currentDirectory));

    const FilePanelResult<QStringList> listing = FilePanelChecks::listDirectories(m_currentDirectory);
    if (const QStringList *folders = std::get_if<QStringList>(&listing)) {
        m_directories = *folders;
        m_statusLabel->setText(m_directories.isEmpty() ? QStringLiteral("当前文件夹没有子文件夹，可直接下载到这里")
                                                       : QStringLiteral("双击文件夹进入；将保存到当前显示的位置"));
        m_chooseButton->setEnabled(FilePanelChecks::isWritableDirectory(m_currentDirectory));
    } else {
        m_directories.clear();
        m_statusLabel->setText(std::get<FilePanelError>(listing).localizedDescription);
        m_chooseButton->setEnabled(false);
    }

    m_tableView->clear();
    const QIcon folderIcon = SymbolIcon::icon(Symbol::folderFill, ViewColors::blue(), folderIconPixels);
    for (const QString &folder : std::as_const(m_directories)) {
        auto *item = new QListWidgetItem(folderIcon, QFileInfo(folder).fileName(), m_tableView);
        item->setSizeHint(QSize(0, rowHeight));
        item->setToolTip(plainToolTip(folder));
    }
}

void NativeFolderPanelSession::openDirectory(int row)
{
    if (row < 0 || row >= m_directories.size()) {
        return;
    }
    m_currentDirectory = m_directories[row];
    reload();
}

void NativeFolderPanelSession::openSelectedDirectory()
{
    openDirectory(m_tableView->currentRow());
}

void NativeFolderPanelSession::goBack()
{
    const QString parent = FilePanelChecks::parentDirectory(m_currentDirectory);
    if (parent == QDir::cleanPath(m_currentDirectory)) {
        return;
    }
    m_currentDirectory = parent;
    reload();
}

void NativeFolderPanelSession::chooseCurrentDirectory()
{
    // The button is disabled for a folder that cannot take the download; Return must not get round it.
    if (!m_chooseButton->isEnabled()) {
        return;
    }
    finish(m_currentDirectory);
}

void NativeFolderPanelSession::cancel()
{
    finish(std::nullopt);
}

void NativeFolderPanelSession::reject()
{
    cancel();
}

void NativeFolderPanelSession::closeEvent(QCloseEvent *event)
{
    if (m_finished) {
        event->accept();
        return;
    }
    // Ending goes through finish(), which hides the panel itself.
    event->ignore();
    finish(std::nullopt);
}

void NativeFolderPanelSession::finish(const std::optional<QString> &folder)
{
    if (m_finished) {
        return;
    }
    m_finished = true;
    done(folder ? QDialog::Accepted : QDialog::Rejected);
    // The completion may release this session; nothing of it is touched afterwards.
    const Completion completion = std::move(m_completion);
    if (completion) {
        completion(folder);
    }
}

void NativeFolderPanelSession::present()
{
    QWidget *window = QApplication::activeWindow();
    if (!window) {
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *candidate : windows) {
            if (qobject_cast<QMainWindow *>(candidate) && candidate->isVisible()) {
                window = candidate;
                break;
            }
        }
    }
    if (window && window != this) {
        setParent(window, windowFlags() | Qt::Dialog);
        setWindowModality(Qt::WindowModal);
        show();
        return;
    }
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
    raise();
    activateWindow();
}
