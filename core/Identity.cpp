#include "Identity.h"

#include "Wire.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <arpa/inet.h>

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace tavrine::core {

namespace {

constexpr std::string_view identityPrefix = "tavrine-identity-v1.";
constexpr std::string_view materialPrefix = "tavrine-connection-v1.";
constexpr std::string_view pairingPrefix = "tavrine://pair/v1?";

std::string rawPublicKey(EVP_PKEY *key)
{
    size_t length = 0;
    if (EVP_PKEY_get_raw_public_key(key, nullptr, &length) != 1) {
        return {};
    }
    std::string bytes(length, '\0');
    if (EVP_PKEY_get_raw_public_key(key, reinterpret_cast<unsigned char *>(bytes.data()), &length) != 1) {
        return {};
    }
    bytes.resize(length);
    return bytes;
}

void freePinnedKey(void *, void *pointer, CRYPTO_EX_DATA *, int, long, void *)
{
    delete static_cast<std::string *>(pointer);
}

int pinnedKeyIndex()
{
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, freePinnedKey);
    return index;
}

int verifyPinnedKey(int, X509_STORE_CTX *store)
{
    // Only the leaf matters: the host's certificate is self-signed and trusted through its key alone.
    if (X509_STORE_CTX_get_error_depth(store) != 0) {
        return 1;
    }
    auto *ssl = static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    const auto *pinned = static_cast<const std::string *>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), pinnedKeyIndex()));
    X509 *certificate = X509_STORE_CTX_get_current_cert(store);
    if (!pinned || !certificate) {
        return 0;
    }
    const std::string presented = publicKeyTextOf(certificate);
    return !presented.empty() && constantTimeEquals(presented, *pinned) ? 1 : 0;
}

std::string percentDecode(std::string_view text)
{
    std::string decoded;
    for (size_t index = 0; index < text.size(); ++index) {
        if (text[index] == '%') {
            if (index + 2 >= text.size()) {
                throw std::runtime_error("malformed escape in pairing URL");
            }
            const std::string hex(text.substr(index + 1, 2));
            if (!std::isxdigit(uint8_t(hex[0])) || !std::isxdigit(uint8_t(hex[1]))) {
                throw std::runtime_error("malformed escape in pairing URL");
            }
            decoded.push_back(char(std::stoi(hex, nullptr, 16)));
            index += 2;
        } else {
            decoded.push_back(text[index]);
        }
    }
    return decoded;
}

std::string percentEncode(std::string_view text)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char character : text) {
        const auto byte = uint8_t(character);
        if (std::isalnum(byte) || character == '-' || character == '.' || character == '_' || character == '~' ||
            character == ':') {
            encoded.push_back(character);
        } else {
            encoded.push_back('%');
            encoded.push_back(digits[byte >> 4]);
            encoded.push_back(digits[byte & 0xf]);
        }
    }
    return encoded;
}

} // namespace

std::string randomBytes(size_t count)
{
    std::string bytes(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), int(count)) != 1) {
        throw std::runtime_error("no random bytes available");
    }
    return bytes;
}

std::string base64Url(std::string_view bytes)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string text;
    size_t index = 0;
    while (index + 3 <= bytes.size()) {
        const uint32_t group =
            (uint8_t(bytes[index]) << 16) | (uint8_t(bytes[index + 1]) << 8) | uint8_t(bytes[index + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) {
            text.push_back(alphabet[(group >> shift) & 0x3f]);
        }
        index += 3;
    }
    const size_t left = bytes.size() - index;
    if (left > 0) {
        uint32_t group = uint8_t(bytes[index]) << 16;
        if (left == 2) {
            group |= uint8_t(bytes[index + 1]) << 8;
        }
        text.push_back(alphabet[(group >> 18) & 0x3f]);
        text.push_back(alphabet[(group >> 12) & 0x3f]);
        if (left == 2) {
            text.push_back(alphabet[(group >> 6) & 0x3f]);
        }
    }
    return text;
}

std::string fromBase64Url(std::string_view text)
{
    std::string bytes;
    uint32_t group = 0;
    int bits = 0;
    for (const char character : text) {
        int value = -1;
        if (character >= 'A' && character <= 'Z') {
            value = character - 'A';
        } else if (character >= 'a' && character <= 'z') {
            value = character - 'a' + 26;
        } else if (character >= '0' && character <= '9') {
            value = character - '0' + 52;
        } else if (character == '-') {
            value = 62;
        } else if (character == '_') {
            value = 63;
        } else {
            return {};
        }
        group = (group << 6) | uint32_t(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(char((group >> bits) & 0xff));
        }
    }
    return bytes;
}

std::string hexText(std::string_view bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char byte : bytes) {
        text.push_back(digits[uint8_t(byte) >> 4]);
        text.push_back(digits[uint8_t(byte) & 0xf]);
    }
    return text;
}

std::string sha256(std::string_view bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<const char *>(digest), length);
}

std::string randomUuid()
{
    std::string bytes = randomBytes(16);
    bytes[6] = char((uint8_t(bytes[6]) & 0x0f) | 0x40);
    bytes[8] = char((uint8_t(bytes[8]) & 0x3f) | 0x80);
    const std::string hex = hexText(bytes);
    return hex.substr(0, 8) + '-' + hex.substr(8, 4) + '-' + hex.substr(12, 4) + '-' + hex.substr(16, 4) + '-' +
           hex.substr(20);
}

std::string randomDigits(int count)
{
    std::string digits;
    while (int(digits.size()) < count) {
        // 250 is the largest multiple of 10 below 256: rejecting above it keeps the digits uniform.
        const auto byte = uint8_t(randomBytes(1)[0]);
        if (byte < 250) {
            digits.push_back(char('0' + byte % 10));
        }
    }
    return digits;
}

bool constantTimeEquals(std::string_view left, std::string_view right)
{
    return left.size() == right.size() && CRYPTO_memcmp(left.data(), right.data(), left.size()) == 0;
}

HostIdentity HostIdentity::generate()
{
    HostIdentity identity;
    identity.m_key.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    if (!identity.m_key) {
        throw std::runtime_error("could not generate the host key");
    }
    return identity;
}

HostIdentity HostIdentity::fromMaterial(const std::string &material)
{
    if (material.compare(0, identityPrefix.size(), identityPrefix) != 0) {
        throw std::runtime_error("the identity material is not recognised");
    }
    const std::string bytes = fromBase64Url(std::string_view(material).substr(identityPrefix.size()));
    try {
        wire::FieldReader reader(bytes);
        const std::string privateKey = reader.text();
        const uint32_t port = reader.u32();
        reader.finish();
        HostIdentity identity;
        identity.m_key.reset(EVP_PKEY_new_raw_private_key(
            EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char *>(privateKey.data()), privateKey.size()));
        if (!identity.m_key || port > 65535) {
            throw std::runtime_error("the identity material holds no usable key");
        }
        identity.m_port = uint16_t(port);
        return identity;
    } catch (const wire::ProtocolError &) {
        throw std::runtime_error("the identity material is damaged");
    }
}

std::string HostIdentity::material() const
{
    size_t length = 0;
    EVP_PKEY_get_raw_private_key(m_key.get(), nullptr, &length);
    std::string privateKey(length, '\0');
    EVP_PKEY_get_raw_private_key(m_key.get(), reinterpret_cast<unsigned char *>(privateKey.data()), &length);
    const std::string text =
        std::string(identityPrefix) + base64Url(wire::FieldWriter().text(privateKey).u32(m_port).take());
    OPENSSL_cleanse(privateKey.data(), privateKey.size());
    return text;
}

std::string HostIdentity::publicKeyText() const
{
    return base64Url(rawPublicKey(m_key.get()));
}

std::string HostIdentity::hostId() const
{
    return hexText(sha256(rawPublicKey(m_key.get())).substr(0, 16));
}

ContextPointer HostIdentity::makeServerContext() const
{
    ContextPointer context(SSL_CTX_new(TLS_server_method()));
    std::unique_ptr<X509, OpenSslDeleter> certificate(X509_new());
    if (!context || !certificate) {
        throw std::runtime_error("could not create a TLS context");
    }
    SSL_CTX_set_min_proto_version(context.get(), TLS1_3_VERSION);
    SSL_CTX_set_max_proto_version(context.get(), TLS1_3_VERSION);

    X509_set_version(certificate.get(), 2);
    const std::string serial = randomBytes(8);
    BIGNUM *serialNumber =
        BN_bin2bn(reinterpret_cast<const unsigned char *>(serial.data()), int(serial.size()), nullptr);
    BN_to_ASN1_INTEGER(serialNumber, X509_get_serialNumber(certificate.get()));
    BN_free(serialNumber);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -24L * 3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3650L * 24 * 3600);
    X509_NAME *name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("tavrine host"), -1,
                               -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509_set_pubkey(certificate.get(), m_key.get());
    if (X509_sign(certificate.get(), m_key.get(), nullptr) == 0 ||
        SSL_CTX_use_certificate(context.get(), certificate.get()) != 1 ||
        SSL_CTX_use_PrivateKey(context.get(), m_key.get()) != 1) {
        throw std::runtime_error("could not set up the host certificate");
    }
    return context;
}

std::string publicKeyTextOf(X509 *certificate)
{
    EVP_PKEY *key = X509_get0_pubkey(certificate);
    if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_ED25519) {
        return {};
    }
    return base64Url(rawPublicKey(key));
}

ContextPointer makePinnedClientContext(const std::string &pinnedKey)
{
    ContextPointer context(SSL_CTX_new(TLS_client_method()));
    if (!context) {
        throw std::runtime_error("could not create a TLS context");
    }
    SSL_CTX_set_min_proto_version(context.get(), TLS1_3_VERSION);
    SSL_CTX_set_max_proto_version(context.get(), TLS1_3_VERSION);
    SSL_CTX_set_ex_data(context.get(), pinnedKeyIndex(), new std::string(pinnedKey));
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, verifyPinnedKey);
    return context;
}

std::string PairingOffer::url() const
{
    return std::string(pairingPrefix) + "device=" + percentEncode(hostId) + "&key=" + percentEncode(publicKey) +
           "&token=" + percentEncode(token) + "&endpoint=" + percentEncode(endpoint) + "&code=" + percentEncode(code);
}

PairingOffer PairingOffer::parse(const std::string &url)
{
    if (url.compare(0, pairingPrefix.size(), pairingPrefix) != 0) {
        throw std::runtime_error("not a pairing URL");
    }
    std::string_view query = std::string_view(url).substr(pairingPrefix.size());
    if (const size_t fragment = query.find('#'); fragment != std::string_view::npos) {
        query = query.substr(0, fragment);
    }
    PairingOffer offer;
    while (!query.empty()) {
        const size_t ampersand = query.find('&');
        const std::string_view item = query.substr(0, ampersand);
        query = ampersand == std::string_view::npos ? std::string_view() : query.substr(ampersand + 1);
        const size_t equals = item.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string name = percentDecode(item.substr(0, equals));
        std::string value = percentDecode(item.substr(equals + 1));
        std::string *field = name == "device"     ? &offer.hostId
                             : name == "key"      ? &offer.publicKey
                             : name == "token"    ? &offer.token
                             : name == "endpoint" ? &offer.endpoint
                             : name == "code"     ? &offer.code
                                                  : nullptr;
        if (field) {
            if (!field->empty()) {
                throw std::runtime_error("the pairing URL repeats " + name);
            }
            *field = std::move(value);
        }
    }
    if (offer.hostId.empty() || offer.publicKey.empty() || offer.token.empty() || offer.endpoint.empty() ||
        offer.code.empty()) {
        throw std::runtime_error("the pairing URL is incomplete");
    }
    Endpoint::parse(offer.endpoint);
    return offer;
}

std::string ConnectionMaterial::text() const
{
    return std::string(materialPrefix) + base64Url(wire::FieldWriter()
                                                       .text(endpoint)
                                                       .text(hostKey)
                                                       .text(hostId)
                                                       .text(hostName)
                                                       .text(phoneId)
                                                       .text(secret)
                                                       .take());
}

ConnectionMaterial ConnectionMaterial::parse(const std::string &text)
{
    if (text.compare(0, materialPrefix.size(), materialPrefix) != 0) {
        throw std::runtime_error("not connection material");
    }
    try {
        const std::string bytes = fromBase64Url(std::string_view(text).substr(materialPrefix.size()));
        wire::FieldReader reader(bytes);
        ConnectionMaterial material;
        material.endpoint = reader.text();
        material.hostKey = reader.text();
        material.hostId = reader.text();
        material.hostName = reader.text();
        material.phoneId = reader.text();
        material.secret = reader.text();
        reader.finish();
        Endpoint::parse(material.endpoint);
        if (material.hostKey.empty() || material.secret.empty() || material.phoneId.empty()) {
            throw std::runtime_error("connection material is incomplete");
        }
        return material;
    } catch (const wire::ProtocolError &) {
        throw std::runtime_error("connection material is damaged");
    }
}

Endpoint Endpoint::parse(const std::string &text)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        throw std::runtime_error("the endpoint has no port");
    }
    Endpoint endpoint;
    endpoint.address = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    in_addr address{};
    if (inet_pton(AF_INET, endpoint.address.c_str(), &address) != 1 || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoul(port) == 0 ||
        std::stoul(port) > 65535) {
        throw std::runtime_error("the endpoint is not an IPv4 address and port");
    }
    endpoint.port = uint16_t(std::stoul(port));
    return endpoint;
}

} // namespace tavrine::core
