#pragma once

#include <QString>
#include <QStringList>

struct PhoneOptionsParseResult;

// The command line of tavrine-phone.
struct PhoneOptions
{
    enum class Command
    {
        pair,
        serve,
    };

    Command command = Command::serve;
    QString pairingUrl;       // pair only
    QString storageDirectory; // absolute and clean
    QString deviceName;
    bool confirmAutomatically = false; // pair only

    bool operator==(const PhoneOptions &) const = default;

    // `arguments` as the process received them, the program first.
    static PhoneOptionsParseResult parse(const QStringList &arguments);
    static QString usage();
};

struct PhoneOptionsParseResult
{
    enum class Outcome
    {
        run,
        help,
        badUsage,
    };

    Outcome outcome = Outcome::badUsage;
    PhoneOptions options;
    QString errorMessage; // for badUsage
};
