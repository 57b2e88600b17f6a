#include "platform/Mounts.h"

#include "platform/SysFs.h"

#include <charconv>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace kelvane {
namespace {

std::string DecodeOctalEscapes(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view digits = field.substr(i + 1, 3);
            if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string_view::npos) {
                out.push_back(
                    static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const std::size_t end = line.find(' ', pos);
        const std::size_t stop = end == std::string_view::npos ? line.size() : end;
        if (stop > pos)
            fields.push_back(line.substr(pos, stop - pos));
        pos = stop + 1;
    }
    return fields;
}

bool ParseMajorMinor(std::string_view text, unsigned& maj, unsigned& min) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return false;
    const auto r1 = std::from_chars(text.data(), text.data() + colon, maj);
    const auto r2 = std::from_chars(text.data() + colon + 1, text.data() + text.size(), min);
    return r1.ec == std::errc() && r2.ec == std::errc();
}

// Loops of loop devices are possible; a chain this deep is not a real set-up.
constexpr int kMaxLayers = 8;

std::optional<ByteOrigin> Resolve(unsigned maj, unsigned min, int depth);

std::optional<ByteOrigin> ResolvePathAt(const std::string& path, int depth) {
    struct stat st {};
    if (depth > kMaxLayers || ::stat(path.c_str(), &st) != 0)
        return std::nullopt;
    if (S_ISBLK(st.st_mode))
        return Resolve(major(st.st_rdev), minor(st.st_rdev), depth + 1);
    if (S_ISREG(st.st_mode))
        return ByteOrigin{st.st_dev, st.st_ino, 0, static_cast<std::uint64_t>(st.st_size)};
    return std::nullopt;
}

std::optional<ByteOrigin> Resolve(unsigned maj, unsigned min, int depth) {
    if (depth > kMaxLayers)
        return std::nullopt;
    const auto dir = SysDevBlockDir(maj, min);
    if (dir.empty())
        return std::nullopt;
    const std::uint64_t sizeBytes = ReadSysNumber(dir / "size").value_or(0) * 512;
    if (std::filesystem::exists(dir / "partition")) {
        unsigned pmaj = 0, pmin = 0;
        const auto start = ReadSysNumber(dir / "start");
        if (!start || !ParseMajorMinor(ReadSysText(dir.parent_path() / "dev"), pmaj, pmin))
            return std::nullopt;
        auto origin = Resolve(pmaj, pmin, depth + 1);
        if (!origin)
            return std::nullopt;
        origin->offsetBytes += *start * 512;
        origin->sizeBytes = sizeBytes;
        return origin;
    }
    const std::string backing = ReadSysText(dir / "loop" / "backing_file");
    if (!backing.empty()) {
        auto origin = ResolvePathAt(backing, depth + 1);
        if (!origin)
            return std::nullopt;
        origin->offsetBytes += ReadSysNumber(dir / "loop" / "offset").value_or(0);
        origin->sizeBytes = sizeBytes;
        return origin;
    }
    return ByteOrigin{makedev(maj, min), 0, 0, sizeBytes};
}

} // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> mounts;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        const auto fields = SplitFields(text.substr(pos, end - pos));
        pos = end + 1;
        // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
        std::size_t dash = 6;
        while (dash < fields.size() && fields[dash] != "-")
            ++dash;
        MountEntry m;
        if (fields.size() < 6 || dash + 2 >= fields.size() || !ParseMajorMinor(fields[2], m.major, m.minor))
            continue;
        m.mountPoint = DecodeOctalEscapes(fields[4]);
        const std::string_view options = fields[5];
        m.readOnly = options == "ro" || options.rfind("ro,", 0) == 0;
        m.fsType = DecodeOctalEscapes(fields[dash + 1]);
        m.source = DecodeOctalEscapes(fields[dash + 2]);
        mounts.push_back(std::move(m));
    }
    return mounts;
}

std::vector<MountEntry> ReadMountTable() {
    return ParseMountInfo(ReadSysText("/proc/self/mountinfo"));
}

std::optional<ByteOrigin> ResolveBlockDevice(unsigned maj, unsigned min) {
    return Resolve(maj, min, 0);
}
std::optional<ByteOrigin> ResolvePath(const std::string& path) {
    return ResolvePathAt(path, 0);
}

bool SameBacking(const ByteOrigin& a, const ByteOrigin& b) {
    return a.device == b.device && a.inode == b.inode;
}

bool Overlaps(const ByteOrigin& a, const ByteOrigin& b) {
    return SameBacking(a, b) && a.offsetBytes < b.offsetBytes + b.sizeBytes &&
           b.offsetBytes < a.offsetBytes + a.sizeBytes;
}

std::vector<DeviceUser> ListDeviceUsers() {
    std::vector<DeviceUser> users;
    for (const auto& m : ReadMountTable()) {
        if (m.major == 0)
            continue; // proc, tmpfs, overlay: no block device beneath
        if (auto origin = ResolveBlockDevice(m.major, m.minor))
            users.push_back({m.mountPoint, !m.readOnly, true, *origin});
    }
    // /proc/swaps: "Filename Type Size Used Priority", names with octal escapes like mountinfo.
    std::istringstream swaps(ReadSysText("/proc/swaps"));
    std::string line;
    std::getline(swaps, line);
    while (std::getline(swaps, line)) {
        const auto fields = SplitFields(line);
        if (fields.empty())
            continue;
        const std::string name = DecodeOctalEscapes(fields[0]);
        if (auto origin = ResolvePath(name))
            users.push_back({name, true, false, *origin});
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/block", ec)) {
        const auto holders = entry.path() / "holders";
        if (std::filesystem::is_empty(holders, ec) || ec)
            continue;
        unsigned maj = 0, min = 0;
        if (!ParseMajorMinor(ReadSysText(entry.path() / "dev"), maj, min))
            continue;
        std::string holderNames;
        for (const auto& h : std::filesystem::directory_iterator(holders, ec))
            holderNames += (holderNames.empty() ? "" : ", ") + ("/dev/" + h.path().filename().string());
        if (auto origin = ResolveBlockDevice(maj, min))
            users.push_back({holderNames, true, false, *origin});
    }
    return users;
}

} // namespace kelvane
