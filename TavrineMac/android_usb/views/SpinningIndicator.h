#pragma once

#include <QColor>
#include <QTimer>
#include <QWidget>

// A small indeterminate progress indicator: an arc turning while the widget is shown.
class SpinningIndicator : public QWidget
{
    Q_OBJECT

public:
    explicit SpinningIndicator(int pixels, QWidget *parent = nullptr);

    void setColor(const QColor &color);
    bool isSpinning() const { return m_timer.isActive(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QColor m_color;
    QTimer m_timer;
    int m_angle = 0;
};
