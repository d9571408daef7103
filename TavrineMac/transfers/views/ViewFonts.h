#pragma once

#include <QApplication>
#include <QFont>

// Text styles of the transfer views, relative to the desktop's own font so that they follow its size.
namespace ViewFonts {

inline QFont scaled(qreal factor, QFont::Weight weight = QFont::Normal)
{
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * factor);
    } else {
        font.setPixelSize(qRound(font.pixelSize() * factor));
    }
    font.setWeight(weight);
    return font;
}

inline QFont title(QFont::Weight weight = QFont::DemiBold)
{
    return scaled(1.7, weight);
}
inline QFont title2(QFont::Weight weight = QFont::DemiBold)
{
    return scaled(1.45, weight);
}
inline QFont body(QFont::Weight weight = QFont::Normal)
{
    return scaled(1.0, weight);
}
inline QFont title3(QFont::Weight weight = QFont::DemiBold)
{
    return scaled(1.3, weight);
}
inline QFont callout(QFont::Weight weight = QFont::Normal)
{
    return scaled(0.95, weight);
}
inline QFont caption(QFont::Weight weight = QFont::Normal)
{
    return scaled(0.88, weight);
}
inline QFont caption2(QFont::Weight weight = QFont::Normal)
{
    return scaled(0.82, weight);
}

} // namespace ViewFonts
