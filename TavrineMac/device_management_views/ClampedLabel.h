#pragma once

#include "PlainLabel.h"

// A label that wraps its text (between words, or anywhere in a word wider than the line) to at most a number of
// lines of its width, the last line ending in an ellipsis when the text goes on; the tool tip and the accessible
// name hold the text whole.
class ClampedLabel : public PlainLabel
{
    Q_OBJECT

public:
    explicit ClampedLabel(int maximumLines, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString fullText() const { return m_fullText; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void showLines();

    int m_maximumLines;
    QString m_fullText;
};
