#pragma once

#include <QDialog>
#include <QString>

#include <functional>

// A quick look at a local copy of a phone file: images and text in a window of our own, anything else handed to
// the desktop's program for its type.
class QuickLookWindow : public QDialog
{
    Q_OBJECT

public:
    enum class Kind
    {
        image,
        text,
        external,
    };

    // What the file's content (not its name alone) says it is.
    static Kind kindOf(const QString &path);

    // Hands a file to another program; false when none took it.
    using ExternalOpener = std::function<bool(const QString &path)>;

    // Opens `path`: a window of ours for images and text, else `openExternally` (default: the desktop's program).
    // With `shown`, that window shows the file in place of what it showed, or is closed when the file goes to
    // another program. The window is titled `title` (the file's name on the phone, as the local copy in the preview
    // cache has a name of its own), or the local file's name when it is empty; another program gets the copy under
    // that name. Gives the window showing the file, or nothing; `unopened` is set when no program took the file.
    static QuickLookWindow *show(const QString &path, QWidget *parent, const ExternalOpener &openExternally = {},
                                 QuickLookWindow *shown = nullptr, const QString &title = {}, bool *unopened = nullptr);

    QuickLookWindow(const QString &path, Kind kind, const QString &title = {}, QWidget *parent = nullptr);

    // Replaces what the window shows with `path`, an image or a text, under `title` (empty: the file's name).
    void display(const QString &path, Kind kind, const QString &title = {});

    static constexpr qint64 maximumTextBytes = 1 << 20;
    static constexpr int maximumImageMegapixels = 100;

private:
    QWidget *m_content = nullptr;
};
