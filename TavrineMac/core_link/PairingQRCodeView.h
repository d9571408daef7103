#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

class QLabel;

// Shows the QR code of the web link of a pairing payload, or a notice when no code can be made of it.
class PairingQRCodeView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString payload READ payload WRITE setPayload)

public:
    explicit PairingQRCodeView(QWidget *parent = nullptr);

    QString payload() const { return m_payload; }
    void setPayload(const QString &payload);

    bool isShowingCode() const { return !m_image.isNull(); }

    // A QR code of the UTF-8 bytes of text, each module 12×12 pixels with a 4-module quiet zone;
    // a null image when the text does not fit into a QR code.
    static QImage makeImage(const QString &text);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void rebuild();

    QString m_payload;
    QImage m_image;
    QWidget *m_notice = nullptr;
};
