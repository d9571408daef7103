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

    // Opens `path`: a window of ours for images and text, else `openExternally` (default: the desktop's program).
    // With `shown`, that window shows the file in place of what it showed, or is closed when the file goes to
    // another program. Gives the window showing the file, or nothing.
    static QuickLookWindow *show(const QString &path, QWidget *parent,
                                 const std::function<void(const QString &)> &openExternally = {},
                                 QuickLookWindow *shown = nullptr);

    QuickLookWindow(const QString &path, Kind kind, QWidget *parent = nullptr);

    // Replaces what the window shows with `path`, an image or a text.
    void display(const QString &path, Kind kind);

    static constexpr qint64 maximumTextBytes = 1 << 20;
    static constexpr int maximumImageMegapixels = 100;

private:
    QWidget *m_content = nullptr;
};
