#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QPushButton;

// The message boxes of the views. A box that waits for an answer can be answered in advance
// (setNextAnswer), so tests never run a modal loop; every box shown is remembered for them to read.
class ViewMessageBox
{
public:
    struct Button
    {
        QString text;
        QMessageBox::ButtonRole role;
    };

    struct Shown
    {
        QString text;
        QString informativeText;
        QStringList buttons;
    };

    using Answer = std::function<void(QMessageBox::ButtonRole)>;

    // Shows the box modally and returns the role of the button pressed; closing the box answers
    // RejectRole. With a next answer set, returns that answer at once without showing anything.
    static QMessageBox::ButtonRole ask(QWidget *parent, QMessageBox::Icon icon, const QString &text,
                                       const QString &informativeText, const QList<Button> &buttons,
                                       int defaultButton = 0);
    // Shows the box window-modal over `parent` without waiting; returns it (nullptr when a next answer
    // took its place). The box deletes itself when closed.
    static QMessageBox *open(QWidget *parent, QMessageBox::Icon icon, const QString &text,
                             const QString &informativeText, const QString &buttonText);

    // Shows the box window-modal over `parent` without waiting and calls `answer` once with the role of the button
    // pressed, RejectRole when the box is closed otherwise; a box deleted unanswered (with its parent) calls
    // nothing. With a next answer set, calls `answer` with it before returning and shows nothing (nullptr).
    // The box deletes itself when closed.
    static QMessageBox *openQuestion(QWidget *parent, QMessageBox::Icon icon, const QString &text,
                                     const QString &informativeText, const QList<Button> &buttons, Answer answer);

    // A question that can destroy something is never answered by a stray key: `safe` (its cancel button, or a
    // harmless one) becomes the default button (Return) and takes the focus, and the destructive buttons never
    // take Return, not even when focused.
    static void protectDestructive(QPushButton *safe, const QList<QPushButton *> &destructive);

    // A question is its box's title too, and a title cut short in the title bar ("移到 Ta… 收站？") reads as
    // another question: the box is made wide enough for its title as the title bar shows it, after the
    // application's name, in the window manager's larger, bold font, beside its buttons.
    static void makeRoomForTitle(QDialog *box);
    // The width that takes.
    static int titleBarWidth(const QWidget *box);

    // The answer the next box takes instead of asking the user.
    static void setNextAnswer(QMessageBox::ButtonRole role);
    static bool hasNextAnswer();
    static const QList<Shown> &shown();
    static void clearShown();

private:
    static std::optional<QMessageBox::ButtonRole> takeNextAnswer();
    static QMessageBox *build(QWidget *parent, QMessageBox::Icon icon, const QString &text,
                              const QString &informativeText, const QList<Button> &buttons, int defaultButton);
};
