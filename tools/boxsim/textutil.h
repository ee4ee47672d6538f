#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// Small text helpers shared by the simulator's services; all pure functions, any thread.
namespace boxsim {

std::vector<std::string> split(std::string_view text, char sep);
std::string trim(std::string_view text);
bool startsWith(std::string_view text, std::string_view prefix);
std::string toLower(std::string_view text);
// Decodes %XX escapes only; '+' stays '+' because the client sends raw text.
std::string percentDecode(std::string_view text);
// The receiver's own decoding of request values: %XX escapes, and '+' as a blank.
std::string formDecode(std::string_view text);
// Splits "a=1&b&c=x" into a map; a key without '=' maps to an empty value.
std::map<std::string, std::string> parseQuery(std::string_view query);
// Parses a decimal or 0x-prefixed number; returns fallback when the text is not a number.
long long toNumber(std::string_view text, long long fallback);

} // namespace boxsim
