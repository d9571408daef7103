#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// How the journeys and the benchmarks read the pairing code off a screenshot with zbarimg (zbar-tools).
namespace screen_qr_code {

// QR codes only: with every kind of barcode on, zbarimg sometimes also finds a Codabar symbol inside a QR code and
// prints it on a line of its own.
inline QStringList zbarimgArguments(const QString &image)
{
    return {QStringLiteral("--raw"), QStringLiteral("-q"), QStringLiteral("-Sdisable"),
            QStringLiteral("-Sqrcode.enable"), image};
}

// The text of the one code zbarimg printed (--raw prints each code's text and a line break); nothing when it printed
// none or several, which a reader must not pass on as a pairing link.
inline std::optional<QString> onlyCode(const QByteArray &zbarimgOutput)
{
    QByteArray text = zbarimgOutput;
    if (text.endsWith('\n'))
        text.chop(1);
    if (text.isEmpty() || text.contains('\n'))
        return std::nullopt;
    return QString::fromUtf8(text);
}

} // namespace screen_qr_code
