#include "PairingPayload.h"

#include <QHash>
#include <QList>
#include <QStringDecoder>
#include <QTextBoundaryFinder>

#include <unicode/uchar.h>

#include <algorithm>
#include <optional>

namespace {

constexpr char16_t pairingScheme[] = u"tavrine";
constexpr char16_t pairingHost[] = u"pair";
constexpr char16_t pairingPath[] = u"/v1";
constexpr qsizetype minimumSecretLength = 16;
constexpr qsizetype confirmationCodeLength = 6;

bool isAlpha(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

bool isHexDigit(char16_t c)
{
    return isDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool isUnreserved(char16_t c)
{
    return isAlpha(c) || isDigit(c) || c == u'-' || c == u'.' || c == u'_' || c == u'~';
}

bool isSubDelimiter(char16_t c)
{
    return QStringView(u"!$&'()*+,;=").contains(QChar(c));
}

bool isRegisteredNameCharacter(char16_t c)
{
    return isUnreserved(c) || isSubDelimiter(c);
}

bool isUserInfoCharacter(char16_t c)
{
    return isRegisteredNameCharacter(c) || c == u':';
}

bool isPathCharacter(char16_t c)
{
    return isUserInfoCharacter(c) || c == u'@' || c == u'/';
}

bool isQueryCharacter(char16_t c)
{
    return isPathCharacter(c) || c == u'?';
}

// Every character is either allowed in this component or starts a complete "%" escape.
bool isEncodedComponent(QStringView text, bool (*isAllowed)(char16_t))
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'%') {
            if (i + 2 >= text.size() || !isHexDigit(text[i + 1].unicode()) || !isHexDigit(text[i + 2].unicode()))
                return false;
            i += 2;
        } else if (!isAllowed(c)) {
            return false;
        }
    }
    return true;
}

bool isScheme(QStringView text)
{
    if (text.isEmpty() || !isAlpha(text.front().unicode()))
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return isAlpha(c.unicode()) || isDigit(c.unicode()) || c == u'+' || c == u'-' || c == u'.';
    });
}

struct UrlComponents
{
    QStringView scheme;
    QStringView host;
    QStringView path;
    QStringView query;
};

// Splits `scheme "://" authority path ["?" query] ["#" fragment]` and checks every component against RFC 3986.
// An IP-literal host is rejected outright: it can never be the pairing host.
std::optional<UrlComponents> splitUrl(QStringView text)
{
    const qsizetype schemeEnd = text.indexOf(u':');
    if (schemeEnd < 0 || !isScheme(text.first(schemeEnd)) || !text.sliced(schemeEnd + 1).startsWith(u"//"))
        return std::nullopt;

    UrlComponents components;
    components.scheme = text.first(schemeEnd);
    QStringView rest = text.sliced(schemeEnd + 3);

    const qsizetype fragmentStart = rest.indexOf(u'#');
    if (fragmentStart >= 0) {
        if (!isEncodedComponent(rest.sliced(fragmentStart + 1), isQueryCharacter))
            return std::nullopt;
        rest = rest.first(fragmentStart);
    }
    const qsizetype queryStart = rest.indexOf(u'?');
    if (queryStart >= 0) {
        components.query = rest.sliced(queryStart + 1);
        if (!isEncodedComponent(components.query, isQueryCharacter))
            return std::nullopt;
        rest = rest.first(queryStart);
    }
    qsizetype pathStart = rest.indexOf(u'/');
    if (pathStart < 0)
        pathStart = rest.size();
    components.path = rest.sliced(pathStart);
    if (!isEncodedComponent(components.path, isPathCharacter))
        return std::nullopt;

    QStringView authority = rest.first(pathStart);
    const qsizetype userInfoEnd = authority.indexOf(u'@');
    if (userInfoEnd >= 0) {
        if (!isEncodedComponent(authority.first(userInfoEnd), isUserInfoCharacter))
            return std::nullopt;
        authority = authority.sliced(userInfoEnd + 1);
    }
    const qsizetype portStart = authority.indexOf(u':');
    if (portStart >= 0) {
        const QStringView port = authority.sliced(portStart + 1);
        if (!std::all_of(port.begin(), port.end(), [](QChar c) { return isDigit(c.unicode()); }))
            return std::nullopt;
        authority = authority.first(portStart);
    }
    if (!isEncodedComponent(authority, isRegisteredNameCharacter))
        return std::nullopt;
    components.host = authority;
    return components;
}

// Expects a component that passed isEncodedComponent; fails when the escapes do not form UTF-8.
std::optional<QString> percentDecoded(QStringView component)
{
    const QByteArray bytes = QByteArray::fromPercentEncoding(component.toLatin1());
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// Host and path are compared as a URL parser reports them, percent-decoded, so "p%61ir" names the pairing
// host. A decoded "/", NUL or byte order mark stays in the text and fails the comparison; escapes that do
// not form UTF-8 fail it too.
bool decodesTo(QStringView component, QStringView expected)
{
    const std::optional<QString> decoded = percentDecoded(component);
    return decoded && *decoded == expected;
}

struct QueryItem
{
    QString name;
    std::optional<QString> value;
};

std::optional<QList<QueryItem>> decodedQueryItems(QStringView query)
{
    QList<QueryItem> items;
    for (const QStringView item : query.split(u'&')) {
        const qsizetype equalsSign = item.indexOf(u'=');
        std::optional<QString> name = percentDecoded(equalsSign < 0 ? item : item.first(equalsSign));
        if (!name)
            return std::nullopt;
        std::optional<QString> value;
        if (equalsSign >= 0) {
            value = percentDecoded(item.sliced(equalsSign + 1));
            if (!value)
                return std::nullopt;
        }
        items.append({*std::move(name), std::move(value)});
    }
    return items;
}

// Length in user-perceived characters, so that combining marks and surrogate pairs count once.
qsizetype characterCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() >= 0)
        ++count;
    return count;
}

bool isNumericCharacter(QStringView character)
{
    const auto codePoints = character.toUcs4();
    return !codePoints.isEmpty() &&
           u_getIntPropertyValue(static_cast<UChar32>(codePoints.front()), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

bool isConfirmationCode(const QString &code)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, code);
    qsizetype count = 0;
    qsizetype start = 0;
    for (qsizetype end = finder.toNextBoundary(); end >= 0; start = end, end = finder.toNextBoundary()) {
        if (!isNumericCharacter(QStringView(code).sliced(start, end - start)))
            return false;
        ++count;
    }
    return count == confirmationCodeLength;
}

} // namespace

PairingPayloadError::PairingPayloadError(Case errorCase, const QString &itemName)
    : m_case(errorCase),
      m_itemName(errorCase == Case::missingParameter || errorCase == Case::duplicateParameter ? itemName : QString())
{
    m_description = errorDescription().toUtf8();
}

QString PairingPayloadError::errorDescription() const
{
    switch (m_case) {
    case Case::missingParameter:
        return QStringLiteral("The pairing code is missing ") + m_itemName + u'.';
    case Case::duplicateParameter:
        return QStringLiteral("The pairing code repeats ") + m_itemName + u'.';
    case Case::unsupportedFormat:
        return QStringLiteral("This pairing code is not supported.");
    case Case::secretTooShort:
        return QStringLiteral("The pairing code is not secure enough.");
    case Case::invalidConfirmationCode:
        return QStringLiteral("The pairing confirmation code is invalid.");
    }
    Q_UNREACHABLE();
}

bool PairingPayloadError::operator==(const PairingPayloadError &other) const
{
    return m_case == other.m_case && m_itemName == other.m_itemName;
}

PairingPayload PairingPayload::parse(const QString &url)
{
    using Case = PairingPayloadError::Case;

    const std::optional<UrlComponents> components = splitUrl(url);
    if (!components || components->scheme != pairingScheme || !decodesTo(components->host, pairingHost) ||
        !decodesTo(components->path, pairingPath))
        throw PairingPayloadError(Case::unsupportedFormat);

    // A missing or empty query reads as one bare item with an empty name, which stores nothing.
    std::optional<QList<QueryItem>> items = decodedQueryItems(components->query);
    if (!items)
        throw PairingPayloadError(Case::unsupportedFormat);

    QHash<QString, QString> values;
    for (QueryItem &item : *items) {
        if (values.contains(item.name))
            throw PairingPayloadError(Case::duplicateParameter, item.name);
        if (item.value)
            values.insert(item.name, *std::move(item.value));
    }

    const auto required = [&values](const QString &name) {
        const QString value = values.value(name);
        if (value.isEmpty())
            throw PairingPayloadError(Case::missingParameter, name);
        return value;
    };
    PairingPayload payload;
    payload.deviceID = required(QStringLiteral("device"));
    payload.publicKey = required(QStringLiteral("key"));
    payload.token = required(QStringLiteral("token"));
    payload.endpoint = required(QStringLiteral("endpoint"));
    payload.confirmationCode = required(QStringLiteral("code"));

    if (characterCount(payload.publicKey) < minimumSecretLength || characterCount(payload.token) < minimumSecretLength)
        throw PairingPayloadError(Case::secretTooShort);
    if (!isConfirmationCode(payload.confirmationCode))
        throw PairingPayloadError(Case::invalidConfirmationCode);
    return payload;
}
