#pragma once

#include <QString>

#include <chrono>
#include <optional>

// Where the transfer store learns this computer's names; tests answer without a system bus.
class ComputerNameProvider
{
public:
    virtual ~ComputerNameProvider() = default;
    // The name the user gave the computer; none when it has none or nobody can be asked.
    virtual std::optional<QString> prettyHostName() const = 0;
    virtual QString hostName() const = 0;
};

// Asks systemd's hostnamed on the system bus for the pretty name, and the kernel for the host name.
class SystemComputerNameProvider final : public ComputerNameProvider
{
public:
    // hostnamed is started on demand, or may be missing altogether: starting the host never waits longer.
    static constexpr auto hostnamedTimeout = std::chrono::milliseconds(500);

    std::optional<QString> prettyHostName() const override;
    QString hostName() const override;
};

// The name the phone shows for this computer: the pretty host name, else the host name, else "这台 Mac"; a name of
// blanks counts as none.
QString computerDisplayName(const ComputerNameProvider &names);
