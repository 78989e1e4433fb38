// The number rule shared by the port of a URL and the content length of an answer: a number
// read from the start of a text, blanks ignored, 0 when no number begins it.
#pragma once

#include <string>
#include <string_view>

namespace gor::download {

// Reads the number that `text` begins with. Space, tab and line-feed characters are ignored
// wherever they stand; what remains is read as an optional sign, decimal digits with an
// optional period and fraction, and an optional exponent (E, optional sign, digits), up
// to the first character that cannot continue the number. Returns 0 when no number begins the
// text (also for a text starting with "&": radix prefixes are not read). A lower-case "e"
// starts no exponent: "1e3" reads 1, and a port "81e1" is 81. A value too small
// for a double reads as 0; one too large throws std::overflow_error.
double NumberRule(std::string_view text);

// Writes a number back as decimal text: a whole number below 10^15 as its digits (with a
// minus sign when negative), anything else in the shortest form with 15 significant digits, an
// exponent written with E (so the text reads back by the rule above); infinities and NaN as
// printf writes them ("INF", "-INF", "NAN"), which no rule reads back.
std::string NumberText(double value);

}  // namespace gor::download
