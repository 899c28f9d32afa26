#include "console/entry_text.h"

#include <cfenv>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

namespace {

bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

}  // namespace

double LeadingNumber(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;

    std::string number;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        number += static_cast<char>(text[i++].unicode());
    bool digits = false;
    while (i < n && IsDigit(text[i])) {
        number += static_cast<char>(text[i++].unicode());
        digits = true;
    }
    if (i < n && text[i] == QLatin1Char('.')) {
        number += '.';
        ++i;
        while (i < n && IsDigit(text[i])) {
            number += static_cast<char>(text[i++].unicode());
            digits = true;
        }
    }
    if (!digits)
        return 0.0;
    // An exponent counts only when digits follow it: "1e" reads as 1.
    if (i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        qsizetype j = i + 1;
        std::string exponent = "e";
        if (j < n && (text[j] == QLatin1Char('+') || text[j] == QLatin1Char('-')))
            exponent += static_cast<char>(text[j++].unicode());
        if (j < n && IsDigit(text[j])) {
            while (j < n && IsDigit(text[j]))
                exponent += static_cast<char>(text[j++].unicode());
            number += exponent;
        }
    }
    // from_chars ignores the locale (a decimal comma would break strtod). An exponent out of
    // range leaves 0 or gives result_out_of_range: read that as +-infinity or 0.
    if (number[0] == '+')
        number.erase(0, 1);
    double value = 0.0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        const bool negative = number[0] == '-';
        const bool tiny = number.find("e-") != std::string::npos;
        return tiny ? 0.0 : (negative ? -HUGE_VAL : HUGE_VAL);
    }
    return value;
}

double RoundHalfEven(double value)
{
    // nearbyint follows the current rounding mode, which is round-to-nearest-even unless
    // someone changed it; set it explicitly rather than trust that.
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(previous);
    return rounded;
}

std::array<double, 3> TimeFields(const QString& text)
{
    return {RoundHalfEven(LeadingNumber(text.mid(0, 2))), RoundHalfEven(LeadingNumber(text.mid(3, 2))),
            RoundHalfEven(LeadingNumber(text.right(2)))};
}
