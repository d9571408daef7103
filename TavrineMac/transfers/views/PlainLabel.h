#pragma once

#include <QLabel>

// A label that shows its text as it stands. Most labels show a text that came from a phone, adb, a file name
// or a peer, and Qt draws any text that looks like HTML as rich text; none of the views' own texts is rich, so
// every label of the views is one of these.
class PlainLabel : public QLabel
{
public:
    explicit PlainLabel(QWidget *parent = nullptr);
    explicit PlainLabel(const QString &text, QWidget *parent = nullptr);

protected:
    // A screen reader describes a label by its tool tip, which may be markup around the text (plainToolTip): the
    // description is kept as the tool tip's plain text.
    bool event(QEvent *event) override;
};

// `text` as a tool tip that shows it as it stands. Qt draws a tool tip (of a widget or of an item view's row) as
// rich text whenever it looks like HTML, and a tool tip has no text format of its own.
QString plainToolTip(const QString &text);
