#include "core/settings.h"

#include <QUrl>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace tunalo::settings {

QString numberText(long value)
{
    const QString digits = QString::number(value);
    return value < 0 ? digits : QLatin1Char(' ') + digits;
}

namespace {

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') ||
           c == QLatin1Char('\r');
}

// Gathers the leading number of text into plain ASCII (sign, digits, one decimal point and an
// exponent), skipping blanks wherever they stand, as a person's "1 000" or " 1" should read.
std::string leadingNumber(const QString& text)
{
    std::string number;
    bool seenDigit = false;
    bool seenPoint = false;
    bool inExponent = false;
    bool exponentDigit = false;
    for (const QChar c : text) {
        if (isBlank(c))
            continue;
        const char ch = c.toLatin1();
        if (c.unicode() > 0x7f) {
            break;
        } else if (ch >= '0' && ch <= '9') {
            (inExponent ? exponentDigit : seenDigit) = true;
        } else if ((ch == '+' || ch == '-') && (number.empty() || (inExponent && number.back() == 'e'))) {
        } else if (ch == '.' && !seenPoint && !inExponent) {
            seenPoint = true;
        } else if ((ch == 'e' || ch == 'E') && seenDigit && !inExponent) {
            inExponent = true;
            number += 'e';
            continue;
        } else {
            break;
        }
        number += ch;
    }
    if (inExponent && !exponentDigit)
        number.erase(number.find('e'));
    return seenDigit ? number : std::string("0");
}

} // namespace

std::optional<std::int16_t> readNumber(const QString& text)
{
    std::string number = leadingNumber(text);
    if (number.front() == '+')
        number.erase(0, 1);
    double value = 0; // from_chars reads the same whatever the user's locale
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range) {
        const auto exponent = number.find('e');
        const bool tiny = exponent != std::string::npos && number[exponent + 1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    const double rounded = std::nearbyint(value); // the default rounding mode sends halves to even
    if (!(rounded >= std::numeric_limits<std::int16_t>::min() &&
          rounded <= std::numeric_limits<std::int16_t>::max()))
        return std::nullopt;
    return static_cast<std::int16_t>(rounded);
}

ServiceAddress serviceAddress(const QString& text)
{
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return {{}, QStringLiteral("an address starts with http:// or https://")};
    if (url.host().isEmpty())
        return {{}, QStringLiteral("the address names no host")};
    if (!url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment() ||
        (!url.path().isEmpty() && url.path() != QLatin1String("/")))
        return {{}, QStringLiteral("only a scheme, a host and a port are taken")};
    return {url.adjusted(QUrl::RemovePath).toString(QUrl::FullyEncoded), {}};
}

QString placeText(const QPoint& place)
{
    return QStringLiteral("%1,%2").arg(place.x()).arg(place.y());
}

std::optional<QPoint> readPlace(const QString& text)
{
    const QStringList numbers = text.split(QLatin1Char(','));
    if (numbers.size() != 2)
        return std::nullopt;
    bool xRead = false;
    bool yRead = false;
    const int x = numbers[0].trimmed().toInt(&xRead);
    const int y = numbers[1].trimmed().toInt(&yRead);
    if (!xRead || !yRead)
        return std::nullopt;
    return QPoint(x, y);
}

} // namespace tunalo::settings
