#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Keys, certificates, random texts and the texts that carry them: the host's identity material, the
// pairing URL and the phone's connection material.
namespace tavrine::core {

struct OpenSslDeleter
{
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
    void operator()(X509 *certificate) const { X509_free(certificate); }
    void operator()(SSL_CTX *context) const { SSL_CTX_free(context); }
    void operator()(SSL *ssl) const { SSL_free(ssl); }
};
using KeyPointer = std::unique_ptr<EVP_PKEY, OpenSslDeleter>;
using ContextPointer = std::unique_ptr<SSL_CTX, OpenSslDeleter>;
using SslPointer = std::unique_ptr<SSL, OpenSslDeleter>;

std::string randomBytes(size_t count);
std::string base64Url(std::string_view bytes);
std::string fromBase64Url(std::string_view text); // empty on a malformed text
std::string hexText(std::string_view bytes);
std::string sha256(std::string_view bytes);
std::string randomUuid();
std::string randomDigits(int count);
bool constantTimeEquals(std::string_view left, std::string_view right);

// The host's long-term key pair and the port it listened on last.
class HostIdentity
{
public:
    static HostIdentity generate();
    // Throws std::runtime_error for material that does not hold a usable key.
    static HostIdentity fromMaterial(const std::string &material);

    std::string material() const;
    // The raw public key in base64url: what the phone pins.
    std::string publicKeyText() const;
    // A stable identifier derived from the public key.
    std::string hostId() const;
    uint16_t port() const { return m_port; }
    void setPort(uint16_t port) { m_port = port; }

    // A TLS 1.3-only server context presenting a self-signed certificate of this key.
    ContextPointer makeServerContext() const;

private:
    KeyPointer m_key;
    uint16_t m_port = 0;
};

// The public key text of a peer certificate, as publicKeyText() gives it; empty when it has none.
std::string publicKeyTextOf(X509 *certificate);

// A TLS 1.3-only client context that accepts only a server whose key text equals `pinnedKey`: any other
// key fails the handshake before a byte of application data is sent.
ContextPointer makePinnedClientContext(const std::string &pinnedKey);

struct PairingOffer
{
    std::string hostId;
    std::string publicKey;
    std::string token;
    std::string endpoint;
    std::string code;

    std::string url() const;
    // Throws std::runtime_error when the URL is not a pairing URL with all five items.
    static PairingOffer parse(const std::string &url);
};

// What the phone keeps after pairing to come back without scanning.
struct ConnectionMaterial
{
    std::string endpoint;
    std::string hostKey;
    std::string hostId;
    std::string hostName;
    std::string phoneId;
    std::string secret;

    std::string text() const;
    // Throws std::runtime_error for text that is not connection material.
    static ConnectionMaterial parse(const std::string &text);
};

// Splits "host:port"; throws std::runtime_error when it is not an IPv4 address and a port.
struct Endpoint
{
    std::string address;
    uint16_t port = 0;
    static Endpoint parse(const std::string &text);
};

} // namespace tavrine::core
