#include "cli/CliHost.h"
#include "cli/Commands.h"
#include "device/PartitionRows.h"
#include "device/PhysicalDrive.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace kelvane {
namespace {

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", u);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Terminal columns of UTF-8 text: CJK and full-width characters take two.
std::size_t DisplayWidth(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        width += len >= 3 ? 2 : 1;
        i += len;
    }
    return width;
}

std::string Pad(std::string_view text, std::size_t width) {
    std::string out(text);
    for (std::size_t w = DisplayWidth(text); w < width; ++w)
        out += ' ';
    return out;
}

void PrintText(const CPhysicalDrive& drive, int number) {
    const DiskRow disk = MakeDiskRow(drive);
    std::printf("磁盘 %d: %s  %s  %s  (%s)\n", number, disk.name.c_str(), disk.size.c_str(), disk.bus.c_str(),
                drive.GetDevicePath().c_str());
    const auto partitions = drive.GetPartitionList();
    if (partitions.empty()) {
        std::printf("    (没有分区)\n");
        return;
    }
    const std::size_t widths[] = {4, 16, 12, 14, 10, 10, 10};
    const char* headers[] = {"#", "盘符", "卷标", "分区类型", "开始位置", "容量", "剩余空间"};
    std::string line = "    ";
    for (std::size_t i = 0; i < std::size(headers); ++i)
        line += Pad(headers[i], widths[i]) + ' ';
    while (line.back() == ' ')
        line.pop_back();
    std::printf("%s\n", line.c_str());
    for (const auto& p : partitions) {
        const PartitionRow row = MakePartitionRow(drive, p);
        const std::string cells[] = {
            std::to_string(p.number), row.letter, row.label, row.type, row.start, row.capacity, row.free};
        line = "    ";
        for (std::size_t i = 0; i < std::size(cells); ++i)
            line += Pad(cells[i], widths[i]) + ' ';
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        std::printf("%s\n", line.c_str());
    }
}

std::string Json(const CPhysicalDrive& drive, int number) {
    std::string out = "{\"number\":" + std::to_string(number) +
                      ",\"name\":" + JsonString(drive.GetDisplayName()) +
                      ",\"path\":" + JsonString(drive.GetDevicePath()) +
                      ",\"sizeMB\":" + std::to_string(drive.GetTotalSectors() * kSectorBytes / 1024 / 1024) +
                      ",\"bus\":" + JsonString(drive.GetBusTypeName()) +
                      ",\"totalSectors\":" + std::to_string(drive.GetTotalSectors()) + ",\"partitions\":[";
    bool first = true;
    for (const auto& p : drive.GetPartitionList()) {
        const PartitionRow row = MakePartitionRow(drive, p);
        char freeMB[48];
        std::snprintf(freeMB, sizeof freeMB, "%.0f", row.freeMB);
        out += std::string(first ? "" : ",") + "{\"number\":" + std::to_string(p.number) +
               ",\"bootable\":" + JsonString(p.bootable) + ",\"type\":" + JsonString(p.typeName) +
               ",\"startSector\":" + std::to_string(p.startSector) +
               ",\"sectorCount\":" + std::to_string(p.sectorCount) +
               ",\"serial\":" + std::to_string(p.volumeSerial) +
               ",\"driveLetter\":" + JsonString(p.driveLetter) + ",\"label\":" + JsonString(row.label) +
               ",\"freeMB\":" + freeMB + "}";
        first = false;
    }
    return out + "]}";
}

} // namespace

int RunListCommand(const std::vector<std::string>& args) {
    bool json = false;
    for (const auto& arg : args) {
        if (arg == "--json") {
            json = true;
        } else {
            std::fprintf(stderr, "kelvane: list: unknown option '%s'\n", arg.c_str());
            return kExitUsage;
        }
    }
    CliMessageSink sink;
    CPhysicalDrive drive(sink);
    int status = kExitDone;
    std::string jsonOut = "{\"drives\":[";
    const auto& table = DriveTable();
    // The drives are numbered in table order; like the window, the listing stops at the first one
    // that does not open, since every later number would name a different disk than it shows.
    for (std::size_t i = 0; i < table.size() && i <= 0xFFFF; ++i) {
        const auto number = static_cast<std::uint16_t>(i);
        if (!drive.Open(number)) {
            const int error = drive.LastOpenError();
            std::fprintf(stderr, "kelvane: 无法打开磁盘 %s: %s%s\n", table[i].path.c_str(),
                         std::strerror(error),
                         error == EACCES || error == EPERM ? " (读取磁盘需要 root 权限)" : "");
            status = kExitFailed;
            break;
        }
        if (!drive.DeviceInfoRead()) {
            std::fprintf(stderr, "kelvane: %s: 没有可读的分区表 (扇区 0 没有 0x55 0xAA 标志)\n",
                         table[i].path.c_str());
            status = kExitFailed;
        }
        if (json)
            jsonOut += (i == 0 ? "" : ",") + Json(drive, number);
        else
            PrintText(drive, number);
        drive.Close();
    }
    if (json)
        std::printf("%s]}\n", jsonOut.c_str());
    if (table.empty())
        std::fprintf(stderr, "kelvane: 没有找到磁盘\n");
    return sink.MessageCount() > 0 ? kExitFailed : status;
}

} // namespace kelvane
