#pragma once

#include <QWidget>

class QLabel;

// One row of the overview's status card: a symbol, a title and, at the trailing edge, the value.
class DeviceStatusRow : public QWidget
{
    Q_OBJECT

public:
    DeviceStatusRow(const QString &icon, const QString &title, const QString &value, QWidget *parent = nullptr);

    void setIcon(const QString &icon);
    void setValue(const QString &value);
    QString iconName() const { return m_icon; }
    QString value() const;

private:
    QString m_icon;
    QLabel *m_iconLabel = nullptr;
    QLabel *m_valueLabel = nullptr;
};
