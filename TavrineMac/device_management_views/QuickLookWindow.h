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
    // Gives the window it opened, or nothing.
    static QuickLookWindow *show(const QString &path, QWidget *parent,
                                 const std::function<void(const QString &)> &openExternally = {});

    QuickLookWindow(const QString &path, Kind kind, QWidget *parent = nullptr);

    static constexpr qint64 maximumTextBytes = 1 << 20;
    static constexpr int maximumImageMegapixels = 100;
};
