#pragma once

#include <QTextEdit>

// A text shown whole that the mouse can select and copy as it stands, such as a package name: it wraps between
// words, and anywhere inside a word wider than its line, and is always as tall as its lines.
class SelectableWrappedText : public QTextEdit
{
    Q_OBJECT

public:
    explicit SelectableWrappedText(QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return toPlainText(); }

private:
    void fitHeight();
};
