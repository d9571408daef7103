#include "TransferCredentialStore.h"

#include "SecretServiceKeychain.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <utility>

namespace {

// A leading byte order mark is part of the value, so it is neither added nor dropped.
constexpr auto utf8Flags = QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom;

} // namespace

TransferCredentialError::TransferCredentialError(Case errorCase, int32_t status, const QString &platformMessage)
    : m_case(errorCase), m_status(status), m_platformMessage(platformMessage)
{
    m_what = errorDescription().toUtf8();
}

TransferCredentialError TransferCredentialError::keychain(int32_t status, const QString &platformMessage)
{
    return TransferCredentialError(Case::keychain, status, platformMessage);
}

TransferCredentialError TransferCredentialError::encoding()
{
    return TransferCredentialError(Case::encoding, 0, {});
}

TransferCredentialError TransferCredentialError::invalidRecord()
{
    return TransferCredentialError(Case::invalidRecord, 0, {});
}

QString TransferCredentialError::errorDescription() const
{
    switch (m_case) {
    case Case::keychain:
        if (m_status == Keychain::interactionNotAllowed)
            return QStringLiteral("无法读取 Tavrine 安全身份，请先解锁“登录”密钥环后重试。");
        if (!m_platformMessage.isEmpty())
            return m_platformMessage;
        return QStringLiteral("密钥环错误（") + QString::number(m_status) + QStringLiteral("）");
    case Case::encoding:
        return QStringLiteral("无法安全保存设备身份。");
    case Case::invalidRecord:
        return QStringLiteral("密钥环中的 Tavrine 安全身份已损坏，请重新配对。");
    }
    Q_UNREACHABLE();
    return {};
}

QString TransferCredentialStore::accountName(Account account)
{
    switch (account) {
    case Account::hostIdentity:
        return QStringLiteral("host-identity-v1");
    case Account::trustedPeerSecret:
        return QStringLiteral("trusted-peer-secret-v1");
    case Account::trustedPeerName:
        return QStringLiteral("trusted-peer-name-v1");
    case Account::trustedDeviceRegistry:
        return QStringLiteral("trusted-device-registry-v1");
    }
    Q_UNREACHABLE();
    return {};
}

std::shared_ptr<Keychain> TransferCredentialStore::systemKeychain()
{
    return std::make_shared<SecretServiceKeychain>();
}

TransferCredentialStore::TransferCredentialStore(QString service, std::shared_ptr<Keychain> keychain)
    : m_service(std::move(service)), m_keychain(std::move(keychain))
{}

TransferCredentialError TransferCredentialStore::keychainError(int32_t status) const
{
    return TransferCredentialError::keychain(status, m_keychain->messageForStatus(status));
}

std::optional<QString> TransferCredentialStore::read(Account account) const
{
    const Keychain::CopyResult result = m_keychain->copyMatching(m_service, accountName(account));
    if (result.status == Keychain::itemNotFound)
        return std::nullopt;
    if (result.status != Keychain::success)
        throw keychainError(result.status);

    QStringDecoder decoder(QStringConverter::Utf8, utf8Flags);
    QString text = decoder.decode(result.data);
    if (decoder.hasError() || text.isEmpty())
        throw TransferCredentialError::invalidRecord();
    return text;
}

void TransferCredentialStore::write(const QString &text, Account account) const
{
    // An unpaired surrogate has no UTF-8 form; storing a replacement character would change the secret.
    QStringEncoder encoder(QStringConverter::Utf8, utf8Flags);
    const QByteArray data = encoder.encode(text);
    if (encoder.hasError())
        throw TransferCredentialError::encoding();

    // The Secret Service has no accessibility classes: an item is readable exactly while its
    // collection is unlocked, which is what the keychain implementation checks.
    const QString name = accountName(account);
    const int32_t updateStatus = m_keychain->update(m_service, name, data);
    if (updateStatus == Keychain::success)
        return;
    if (updateStatus != Keychain::itemNotFound)
        throw keychainError(updateStatus);

    const int32_t addStatus = m_keychain->add(m_service, name, data);
    if (addStatus != Keychain::success)
        throw keychainError(addStatus);
}
