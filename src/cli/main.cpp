#include "cli/Commands.h"
#include "platform/DriveTable.h"
#if KELVANE_HAS_WINDOW
#include "ui/EraserApp.h"
#endif

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "用法: kelvane [--drive PATH]... [COMMAND]\n"
    "\n"
    "  --drive PATH                   use exactly these drives (block devices or image files),\n"
    "                                 numbered from 0 in the order given; without it, the\n"
    "                                 machine's whole disks from /sys/block\n"
    "\n"
    "Commands:\n"
    "  list [--json]                  the drives and their partitions\n"
    "  wipe-disk DISK [--yes]         zero every sector of drive DISK\n"
    "  wipe-free DISK PART[,PART...]  zero the free clusters of FAT or NTFS partitions (numbered from 1)\n"
    "  wipe-partition DISK PART --fs fat32|ntfs [--label TEXT] [--yes]\n"
    "                                 format the partition, then zero its free clusters\n"
    "  shred [--yes] PATH...          overwrite files with zeros, then delete them (folders: their files)\n"
    "\n"
    "  --help                         this text\n"
    "  --version                      the program's version\n"
    "\n"
    "Without a command the window opens. Ctrl-C stops a job at its next safe point.\n"
    "\n"
    "Exit status: 0 completed, 1 failed, 2 usage error, 3 stopped or declined.\n";

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> drives;
    std::size_t i = 0;
    for (; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            std::fputs(kUsage, stdout);
            return kelvane::kExitDone;
        }
        if (args[i] == "--version") {
            std::printf("kelvane 1.5\n");
            return kelvane::kExitDone;
        }
        if (args[i] != "--drive")
            break;
        if (i + 1 >= args.size()) {
            std::fputs("kelvane: --drive needs a path\n", stderr);
            return kelvane::kExitUsage;
        }
        drives.push_back(args[++i]);
    }
    if (!drives.empty())
        kelvane::SetDriveTable(drives);

    if (i >= args.size()) {
#if KELVANE_HAS_WINDOW
        return kelvane::RunEraserWindow(argc, argv);
#else
        std::fputs(kUsage, stderr);
        return kelvane::kExitUsage;
#endif
    }
    const std::string command = args[i];
    const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    if (command == "list")
        return kelvane::RunListCommand(rest);
    if (command == "wipe-disk")
        return kelvane::RunWipeDiskCommand(rest);
    if (command == "wipe-free")
        return kelvane::RunWipeFreeCommand(rest);
    if (command == "wipe-partition")
        return kelvane::RunWipePartitionCommand(rest);
    if (command == "shred")
        return kelvane::RunShredCommand(rest);
    std::fprintf(stderr, "kelvane: unknown command '%s'\n\n%s", command.c_str(), kUsage);
    return kelvane::kExitUsage;
}
