#pragma once

// Just enough JSON to read what `kelvane list --json` prints; a malformed text throws, so a test
// fails on output that a real consumer could not parse either.

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::test {

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::string numberText; // as printed, so 64-bit values are compared exactly
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;

    const JsonValue& operator[](const std::string& key) const; // throws when absent
    const JsonValue& operator[](std::size_t index) const;      // throws when out of range
    std::size_t size() const { return kind == Kind::Array ? items.size() : members.size(); }
    // An integer printed without fraction or exponent; throws otherwise.
    unsigned long long AsUnsigned() const;
    const std::string& AsString() const;
};

JsonValue ParseJson(std::string_view text);

} // namespace kelvane::test
