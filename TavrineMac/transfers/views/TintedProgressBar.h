#pragma once

#include <QColor>
#include <QProgressBar>

// A slim progress bar of a fraction 0…1 in one tint, drawn the same under every widget style.
class TintedProgressBar : public QProgressBar
{
    Q_OBJECT

public:
    explicit TintedProgressBar(QWidget *parent = nullptr);

    void setTint(const QColor &tint);
    void setFraction(double fraction);
    double fraction() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_tint;
};
