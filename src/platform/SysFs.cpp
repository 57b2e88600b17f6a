#include "platform/SysFs.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace kelvane {

std::string ReadSysText(const std::filesystem::path& file) {
    std::ifstream in(file);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    while (!s.empty() && (s.back() == '\n' || s.back() == '\0'))
        s.pop_back();
    return s;
}

std::optional<std::uint64_t> ReadSysNumber(const std::filesystem::path& file) {
    const std::string text = ReadSysText(file);
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end == text.data())
        return std::nullopt;
    return value;
}

std::filesystem::path SysDevBlockDir(unsigned major, unsigned minor) {
    std::error_code ec;
    auto dir = std::filesystem::canonical(
        "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor), ec);
    return ec ? std::filesystem::path{} : dir;
}

} // namespace kelvane
