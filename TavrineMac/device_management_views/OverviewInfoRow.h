#pragma once

#include <QWidget>

class QLabel;

// One line of the overview's device status card: a label in a fixed column of 90 points in the secondary style,
// then the value, selectable, wrapping under itself.
class OverviewInfoRow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int labelColumnWidth = 90;

    OverviewInfoRow(const QString &label, const QString &value, QWidget *parent = nullptr);

    QString label() const;
    QString value() const;
    void setValue(const QString &value);

    QLabel *labelLabel() const { return m_labelLabel; }
    QLabel *valueLabel() const { return m_valueLabel; }

private:
    QLabel *m_labelLabel = nullptr;
    QLabel *m_valueLabel = nullptr;
};
