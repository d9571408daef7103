#pragma once

#include <QScrollArea>

// The scroll area of a screen's column, which a screen reader reads as a section named as the screen it shows, not as
// a nameless filler. Where the column holds a control the keyboard stops on, the area itself is no stop, as it would
// show nothing and do nothing there: Tab brings each control into view and the page keys they pass on scroll the
// column. Only a column of texts alone makes it the place the keyboard stops on to scroll them. Tab from outside the
// page and the program's moves of the keyboard bring the control they give it to into view too.
class SectionScrollArea : public QScrollArea
{
    Q_OBJECT

public:
    explicit SectionScrollArea(const QString &name, QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;
};
