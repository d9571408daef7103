#include "QuickLookWindow.h"

#include "ManagedPreviewCache.h"
#include "PlainLabel.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLoggingCategory>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStringDecoder>
#include <QUrl>
#include <QVBoxLayout>

namespace {

Q_LOGGING_CATEGORY(quickLookLog, "tavrine.device_management_views.quick_look")

constexpr QSize largestWindow(1000, 760);

QString readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.read(QuickLookWindow::maximumTextBytes);
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(bytes);
    if (file.size() > QuickLookWindow::maximumTextBytes) {
        text += QStringLiteral("\n…");
    }
    return text;
}

} // namespace

QuickLookWindow::Kind QuickLookWindow::kindOf(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink()) {
        return Kind::external;
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchContent);
    if (type.name().startsWith(u"image/") &&
        QImageReader::supportedMimeTypes().contains(type.name().toLatin1())) {
        return Kind::image;
    }
    if (type.inherits(QStringLiteral("text/plain"))) {
        return Kind::text;
    }
    return Kind::external;
}

QuickLookWindow *QuickLookWindow::show(const QString &path, QWidget *parent, const ExternalOpener &openExternally,
                                       QuickLookWindow *shown, const QString &title, bool *unopened)
{
    const Kind kind = kindOf(path);
    if (kind == Kind::external) {
        if (shown) {
            shown->close();
        }
        // The other program titles its window with the file's name: it gets the phone's, or the copy's own when
        // that name cannot be given.
        QString handedOn = path;
        if (!title.isEmpty() && title != QFileInfo(path).fileName()) {
            try {
                handedOn = ManagedPreviewCache::namedCopy(path, title);
            } catch (const std::exception &error) {
                qCWarning(quickLookLog) << "could not give the preview its name:" << error.what();
            }
        }
        const bool opened =
            openExternally ? openExternally(handedOn) : QDesktopServices::openUrl(QUrl::fromLocalFile(handedOn));
        if (unopened) {
            *unopened = !opened;
        }
        return nullptr;
    }
    if (shown) {
        shown->display(path, kind, title);
        shown->raise();
        shown->activateWindow();
        return shown;
    }
    auto *window = new QuickLookWindow(path, kind, title, parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->QDialog::show();
    return window;
}

QuickLookWindow::QuickLookWindow(const QString &path, Kind kind, const QString &title, QWidget *parent)
    : QDialog(parent)
{
    auto *layout = new QVBoxLayout(this);
    auto *close = new QPushButton(QStringLiteral("关闭"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    layout->addWidget(close, 0, Qt::AlignRight);
    display(path, kind, title);
}

void QuickLookWindow::display(const QString &path, Kind kind, const QString &title)
{
    setWindowTitle(title.isEmpty() ? QFileInfo(path).fileName() : title);
    delete m_content;
    if (kind == Kind::image) {
        QImageReader reader(path);
        reader.setAutoTransform(true);
        reader.setAllocationLimit(maximumImageMegapixels * 4);
        QImage image = reader.read();
        auto *picture = new PlainLabel(this);
        picture->setObjectName(QStringLiteral("quickLookImage"));
        picture->setAlignment(Qt::AlignCenter);
        if (image.isNull()) {
            picture->setText(QStringLiteral("无法显示预览"));
        } else {
            picture->setPixmap(QPixmap::fromImage(
                image.size().boundedTo(largestWindow) == image.size()
                    ? image
                    : image.scaled(largestWindow, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        }
        m_content = picture;
        if (isVisible()) {
            adjustSize(); // the window takes the size of the new picture
        }
    } else {
        auto *text = new QPlainTextEdit(readText(path), this);
        text->setObjectName(QStringLiteral("quickLookText"));
        text->setReadOnly(true);
        m_content = text;
        resize(720, 560);
    }
    static_cast<QVBoxLayout *>(layout())->insertWidget(0, m_content, 1);
}
