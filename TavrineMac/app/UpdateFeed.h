#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <optional>
#include <variant>

// A release version: one to four dot-separated decimal numbers; missing trailing numbers count as 0.
struct UpdateVersion
{
    QList<quint32> components;

    static std::optional<UpdateVersion> parse(QStringView text);
    // Negative, zero or positive as `left` is older than, the same as or newer than `right`.
    static int compare(const UpdateVersion &left, const UpdateVersion &right);
};

enum class UpdateFeedError
{
    tooLarge,
    badSignature,
    malformed,
    // Published before a feed already verified here: an old feed served again could hide every later version.
    outdated,
};

// The update feed as served:
//   <standard Base64 of the Ed25519 signature of the document bytes>\n
//   {"version": "1.2.0", "url": "https://…", "published": "2026-12-01T08:00:00Z", "notes": "…"}
// "published" is the feed's publication time in UTC, to whole seconds; "notes" is optional; other keys are ignored
// so that later feeds stay readable.
struct UpdateFeed
{
    static constexpr qsizetype maximumBytes = 64 * 1024;
    static constexpr qsizetype maximumNotesLength = 4000;
    // Base64 of a 64-byte signature: 86 characters and two pads.
    static constexpr qsizetype signatureLineLength = 88;

    QString version;
    QUrl downloadURL;
    QDateTime published;
    QString notes;

    bool operator==(const UpdateFeed &) const = default;

    // Verifies the signature with the raw 32-byte public key before anything of the document is read.
    static std::variant<UpdateFeed, UpdateFeedError> read(const QByteArray &feed, const QByteArray &publicKey);
    // The signed document alone; nullopt when it is not exactly what the feed promises.
    static std::optional<UpdateFeed> parseDocument(const QByteArray &document);
    static bool verifySignature(const QByteArray &document, const QByteArray &signature, const QByteArray &publicKey);
    // `feed` unless it was published before `newestVerified`, the publication time of the newest feed verified
    // here before; an equal time is the same feed served again.
    static std::variant<UpdateFeed, UpdateFeedError> refuseOutdated(std::variant<UpdateFeed, UpdateFeedError> feed,
                                                                     const std::optional<QDateTime> &newestVerified);
};
