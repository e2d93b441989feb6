#pragma once
// Character classes and trimming for plain ASCII text, independent of the process locale (Qt sets the
// C library's locale from the environment, which would change what std::isspace accepts).

#include <string_view>

namespace kestrelle {

// White space as the C locale counts it: space, tab, line feed, vertical tab, form feed, carriage
// return. Used where people type text (numbers in settings, names in fields).
constexpr bool isAsciiSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// White space between XML markup: space, tab, carriage return, line feed only. A vertical tab or form
// feed is not white space to an XML reader, so a name or attribute keeps it.
constexpr bool isXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// `text` without its leading and trailing isAsciiSpace characters (a view into the same characters).
constexpr std::string_view trimAsciiSpace(std::string_view text) {
    while (!text.empty() && isAsciiSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isAsciiSpace(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace kestrelle
