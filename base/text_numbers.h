#pragma once
// Number conversions of the settings and profile files, independent of the process locale: a German
// desktop must still read and write "3.0".

#include <string>

namespace kestrelle {

// The leading integer of `text` as atoi reads it (leading white space, an optional sign, digits; 0
// when there are none). Values beyond the int range saturate.
int textToInt(const std::string& text);

// The leading decimal number of `text` as atof reads it (0.0 when there is none). Infinities and NaN
// give 0.0, so no caller is handed a value it cannot count with.
double textToDouble(const std::string& text);

// "%d" and "%0.1f" in the C locale.
std::string intToText(int value);
std::string durationToText(double value);

// Equality of names without regard to letter case (Unicode case folding over UTF-8).
bool namesEqualIgnoringCase(const std::string& a, const std::string& b);

}  // namespace kestrelle
