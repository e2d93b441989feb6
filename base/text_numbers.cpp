#include "base/text_numbers.h"

#include "base/text.h"

#include <QString>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstddef>

namespace kestrelle {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

int textToInt(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && isAsciiSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

double textToDouble(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && isAsciiSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Only the plain decimal form (digits, point, exponent): from_chars would also take "inf" and "nan".
    std::size_t end = i;
    bool digits = false;
    while (end < text.size() && isDigit(text[end])) {
        ++end;
        digits = true;
    }
    if (end < text.size() && text[end] == '.') {
        ++end;
        while (end < text.size() && isDigit(text[end])) {
            ++end;
            digits = true;
        }
    }
    if (!digits) return 0.0;
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        std::size_t e = end + 1;
        if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
        if (e < text.size() && isDigit(text[e])) {
            while (e < text.size() && isDigit(text[e])) ++e;
            end = e;
        }
    }
    double value = 0.0;
    const auto result =
        std::from_chars(text.data() + i, text.data() + end, value, std::chars_format::general);
    if (result.ec != std::errc() || !std::isfinite(value)) return 0.0;
    return negative ? -value : value;
}

std::string intToText(int value) {
    return std::to_string(value);
}

std::string durationToText(double value) {
    if (!std::isfinite(value)) value = 0.0;
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    if (result.ec != std::errc()) return "0.0";
    return std::string(buffer, result.ptr);
}

bool namesEqualIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() == b.size()) {
        bool same = true;
        for (std::size_t i = 0; i < a.size() && same; ++i) same = a[i] == b[i];
        if (same) return true;
    }
    return QString::fromUtf8(a.data(), static_cast<qsizetype>(a.size()))
               .compare(QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size())), Qt::CaseInsensitive) ==
           0;
}

}  // namespace kestrelle
