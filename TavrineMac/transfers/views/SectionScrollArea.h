#pragma once

#include <QScrollArea>

// The scroll area of a screen whose column holds texts that no control reaches: the keyboard stops on it to scroll
// the column, and a screen reader reads it as a section named as the screen it shows, not as a nameless filler.
class SectionScrollArea : public QScrollArea
{
    Q_OBJECT

public:
    explicit SectionScrollArea(const QString &name, QWidget *parent = nullptr);
};
