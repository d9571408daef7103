#include "ViewMessageBox.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

std::optional<QMessageBox::ButtonRole> &nextAnswer()
{
    static std::optional<QMessageBox::ButtonRole> answer;
    return answer;
}

QList<ViewMessageBox::Shown> &shownLog()
{
    static QList<ViewMessageBox::Shown> log;
    return log;
}

void remember(const QString &text, const QString &informativeText, const QList<ViewMessageBox::Button> &buttons)
{
    ViewMessageBox::Shown entry{text, informativeText, {}};
    for (const ViewMessageBox::Button &button : buttons) {
        entry.buttons.append(button.text);
    }
    // Only the latest boxes are of interest; the log must not grow for as long as the application runs.
    constexpr qsizetype keptEntries = 32;
    QList<ViewMessageBox::Shown> &log = shownLog();
    log.append(entry);
    if (log.size() > keptEntries) {
        log.removeFirst();
    }
}

// A window never asks for more width than most of its screen.
int maximumTitleRoom(const QWidget *box)
{
    const QScreen *screen = box->screen() ? box->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry().width() * 3 / 4 : 1000;
}

} // namespace

QMessageBox *ViewMessageBox::build(QWidget *parent, QMessageBox::Icon icon, const QString &text,
                                   const QString &informativeText, const QList<Button> &buttons, int defaultButton)
{
    auto *box = new QMessageBox(parent);
    box->setIcon(icon);
    box->setWindowTitle(text);
    box->setText(text);
    box->setInformativeText(informativeText);
    // The texts often quote a phone's, a file's or an application's name. The box's text format reaches its
    // main text only, so every label it holds is made plain.
    for (QLabel *label : box->findChildren<QLabel *>()) {
        label->setTextFormat(Qt::PlainText);
    }
    QPushButton *cancel = nullptr;
    QList<QPushButton *> destructive;
    for (qsizetype index = 0; index < buttons.size(); ++index) {
        QPushButton *button = box->addButton(buttons[index].text, buttons[index].role);
        if (index == defaultButton) {
            box->setDefaultButton(button);
        }
        if (buttons[index].role == QMessageBox::RejectRole && !cancel) {
            cancel = button;
        } else if (buttons[index].role == QMessageBox::DestructiveRole) {
            destructive.append(button);
        }
    }
    if (cancel && !destructive.isEmpty()) {
        box->setDefaultButton(cancel);
        box->setEscapeButton(cancel);
        protectDestructive(cancel, destructive);
    }
    makeRoomForTitle(box);
    return box;
}

QMessageBox::ButtonRole ViewMessageBox::ask(QWidget *parent, QMessageBox::Icon icon, const QString &text,
                                            const QString &informativeText, const QList<Button> &buttons,
                                            int defaultButton)
{
    remember(text, informativeText, buttons);
    if (const std::optional<QMessageBox::ButtonRole> answer = takeNextAnswer()) {
        return *answer;
    }
    const std::unique_ptr<QMessageBox> box(build(parent, icon, text, informativeText, buttons, defaultButton));
    box->exec();
    QAbstractButton *pressed = box->clickedButton();
    return pressed ? box->buttonRole(pressed) : QMessageBox::RejectRole;
}

QMessageBox *ViewMessageBox::open(QWidget *parent, QMessageBox::Icon icon, const QString &text,
                                  const QString &informativeText, const QString &buttonText)
{
    const QList<Button> buttons{{buttonText, QMessageBox::AcceptRole}};
    remember(text, informativeText, buttons);
    if (takeNextAnswer()) {
        return nullptr;
    }
    QMessageBox *box = build(parent, icon, text, informativeText, buttons, 0);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return box;
}

QMessageBox *ViewMessageBox::openQuestion(QWidget *parent, QMessageBox::Icon icon, const QString &text,
                                          const QString &informativeText, const QList<Button> &buttons, Answer answer)
{
    remember(text, informativeText, buttons);
    if (const std::optional<QMessageBox::ButtonRole> next = takeNextAnswer()) {
        answer(*next);
        return nullptr;
    }
    QMessageBox *box = build(parent, icon, text, informativeText, buttons, 0);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box, [box, answer = std::move(answer)] {
        QAbstractButton *pressed = box->clickedButton();
        answer(pressed ? box->buttonRole(pressed) : QMessageBox::RejectRole);
    });
    box->open();
    return box;
}

void ViewMessageBox::protectDestructive(QPushButton *safe, const QList<QPushButton *> &destructive)
{
    for (QPushButton *button : destructive) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    safe->setDefault(true);
    safe->setFocus();
}

int ViewMessageBox::titleBarWidth(const QWidget *box)
{
    // Title bars commonly draw their title a fifth larger than the text and bold, after an icon and before three
    // buttons; the toolkit adds the application's name after a title that does not end with it.
    constexpr double titleFontScale = 1.2;
    constexpr int iconAndButtonsWidth = 160;
    QString title = box->windowTitle();
    const QString applicationName = QGuiApplication::applicationDisplayName();
    if (!applicationName.isEmpty() && !title.endsWith(applicationName)) {
        title += (title.isEmpty() ? QString() : QStringLiteral(" \u2014 ")) + applicationName;
    }
    QFont titleFont = box->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * titleFontScale);
    return QFontMetrics(titleFont).horizontalAdvance(title) + iconAndButtonsWidth;
}

void ViewMessageBox::makeRoomForTitle(QDialog *box)
{
    const int width = titleBarWidth(box);
    // A message box sets its own size from its layout when shown, bounded by the screen.
    if (auto *grid = qobject_cast<QGridLayout *>(box->layout()); grid && qobject_cast<QMessageBox *>(box)) {
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                      grid->columnCount());
        return;
    }
    box->setMinimumWidth(std::min(width, maximumTitleRoom(box)));
}

void ViewMessageBox::setNextAnswer(QMessageBox::ButtonRole role)
{
    nextAnswer() = role;
}

bool ViewMessageBox::hasNextAnswer()
{
    return nextAnswer().has_value();
}

std::optional<QMessageBox::ButtonRole> ViewMessageBox::takeNextAnswer()
{
    return std::exchange(nextAnswer(), std::nullopt);
}

const QList<ViewMessageBox::Shown> &ViewMessageBox::shown()
{
    return shownLog();
}

void ViewMessageBox::clearShown()
{
    shownLog().clear();
}
