#include "textutil.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace boxsim {

std::vector<std::string> split(std::string_view text, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t pos = text.find(sep, start);
        if (pos == std::string_view::npos) {
            parts.emplace_back(text.substr(start));
            return parts;
        }
        parts.emplace_back(text.substr(start, pos - start));
        start = pos + 1;
    }
}

std::string trim(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t b = 0;
    size_t e = text.size();
    while (b < e && isBlank(text[b]))
        ++b;
    while (e > b && isBlank(text[e - 1]))
        --e;
    return std::string(text.substr(b, e - b));
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string toLower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

std::string percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const auto hex = [](char c) -> int {
                if (c >= '0' && c <= '9')
                    return c - '0';
                if (c >= 'a' && c <= 'f')
                    return c - 'a' + 10;
                if (c >= 'A' && c <= 'F')
                    return c - 'A' + 10;
                return -1;
            };
            const int hi = hex(text[i + 1]);
            const int lo = hex(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(char(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

std::string formDecode(std::string_view text) {
    std::string plus(text);
    std::replace(plus.begin(), plus.end(), '+', ' ');
    return percentDecode(plus);
}

std::map<std::string, std::string> parseQuery(std::string_view query) {
    std::map<std::string, std::string> params;
    if (query.empty())
        return params;
    for (const std::string& part : split(query, '&')) {
        const size_t eq = part.find('=');
        if (eq == std::string::npos)
            params[percentDecode(part)] = std::string();
        else
            params[percentDecode(part.substr(0, eq))] = percentDecode(part.substr(eq + 1));
    }
    return params;
}

long long toNumber(std::string_view text, long long fallback) {
    const std::string t = trim(text);
    if (t.empty())
        return fallback;
    int base = 10;
    std::string_view digits = t;
    if (startsWith(digits, "0x") || startsWith(digits, "0X")) {
        base = 16;
        digits.remove_prefix(2);
    }
    long long value = 0;
    const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (ec != std::errc() || ptr != digits.data() + digits.size())
        return fallback;
    return value;
}

} // namespace boxsim
