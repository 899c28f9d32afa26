// Reading numbers out of the console's text boxes the way the console has always read them.
#pragma once

#include <QString>
#include <array>

// The number at the start of `text`: leading blanks skipped, an optional sign, digits with an
// optional decimal point and exponent; reading stops at the first character that cannot
// continue the number. Nothing readable gives 0.
double LeadingNumber(const QString& text);

// The nearest whole number, an exact half going to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double value);

// Hours, minutes and seconds of a time typed as hh:mm:ss, taken by character position:
// characters 1-2, characters 4-5 and the last two characters, each read as a leading number
// and rounded. "1:2:3" gives 1, 0, 0.
std::array<double, 3> TimeFields(const QString& text);
