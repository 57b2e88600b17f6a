#include "cli/CliHost.h"
#include "cli/Commands.h"
#include "erase/EraseEngine.h"
#include "platform/FolderWalk.h"

#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvane {
namespace {

std::atomic<CEraseEngine*> g_runningEngine{nullptr};

extern "C" void OnInterrupt(int) {
    // Only a lock-free atomic store happens here; the job stops at its next poll point.
    if (CEraseEngine* engine = g_runningEngine.load())
        engine->RequestStop();
}

bool ParseNumber(const std::string& text, int& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0;
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "kelvane: %s\n", message.c_str());
    return kExitUsage;
}

int ExitStatusOf(JobOutcome outcome, const CliHost& host) {
    switch (outcome) {
    case JobOutcome::Completed:
        return kExitDone;
    case JobOutcome::Stopped:
        return kExitStopped;
    case JobOutcome::Declined:
        return host.CouldNotAsk() ? kExitUsage : kExitStopped;
    case JobOutcome::Failed:
        break;
    }
    return kExitFailed;
}

int RunJob(const JobRequest& request, CliHost& host) {
    CEraseEngine engine(host);
    engine.BeginJob();
    g_runningEngine.store(&engine);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    ::sigaction(SIGINT, &action, &previous);
    const JobOutcome outcome = engine.Run(request);
    ::sigaction(SIGINT, &previous, nullptr);
    g_runningEngine.store(nullptr);
    return ExitStatusOf(outcome, host);
}

// Splits "[--yes] REST..." and tells whether a question may be asked at all.
bool TakeYes(std::vector<std::string>& args) {
    bool yes = false;
    std::erase_if(args, [&](const std::string& a) { return a == "--yes" ? (yes = true) : false; });
    return yes;
}

std::uint64_t DriveBytes(int disk) {
    const auto& table = DriveTable();
    if (disk < 0 || static_cast<std::size_t>(disk) >= table.size() ||
        !table[static_cast<std::size_t>(disk)].identity)
        return 0;
    return table[static_cast<std::size_t>(disk)].identity->sizeBytes;
}

bool CanAsk(bool yes) {
    return yes || ::isatty(STDIN_FILENO) != 0;
}

} // namespace

int RunWipeDiskCommand(std::vector<std::string> args) {
    const bool yes = TakeYes(args);
    int disk = 0;
    if (args.size() != 1 || !ParseNumber(args[0], disk))
        return Usage("usage: kelvane wipe-disk DISK [--yes]");
    if (!CanAsk(yes))
        return Usage(
            "wipe-disk erases the whole disk; give --yes to confirm when there is no terminal to ask");
    CliHost host(yes, DriveBytes(disk));
    return RunJob({JobKind::WholeDisk, disk, {}, {}}, host);
}

int RunWipeFreeCommand(std::vector<std::string> args) {
    int disk = 0;
    if (args.size() != 2 || !ParseNumber(args[0], disk))
        return Usage("usage: kelvane wipe-free DISK PART[,PART...]");
    JobRequest request{JobKind::FreeSpace, disk, {}, {}};
    const std::string& list = args[1];
    for (std::size_t pos = 0; pos <= list.size();) {
        const std::size_t comma = std::min(list.find(',', pos), list.size());
        int partition = 0;
        if (!ParseNumber(list.substr(pos, comma - pos), partition) || partition < 1)
            return Usage("partition numbers count from 1: '" + list + "'");
        request.partitions.push_back(partition);
        pos = comma + 1;
    }
    CliHost host(false, DriveBytes(disk));
    return RunJob(request, host);
}

int RunWipePartitionCommand(std::vector<std::string> args) {
    const bool yes = TakeYes(args);
    FormatChoice choice;
    bool haveFs = false;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--fs" || args[i] == "--label") && i + 1 >= args.size())
            return Usage(args[i] + " needs a value");
        if (args[i] == "--fs") {
            const std::string& fs = args[++i];
            if (fs != "fat32" && fs != "ntfs")
                return Usage("--fs takes fat32 or ntfs");
            choice.fileSystem = fs == "ntfs" ? FileSystemKind::Ntfs : FileSystemKind::Fat32;
            haveFs = true;
        } else if (args[i] == "--label") {
            choice.label = args[++i];
        } else {
            positional.push_back(args[i]);
        }
    }
    int disk = 0;
    int partition = 0;
    if (positional.size() != 2 || !haveFs || !ParseNumber(positional[0], disk) ||
        !ParseNumber(positional[1], partition) || partition < 1)
        return Usage("usage: kelvane wipe-partition DISK PART --fs fat32|ntfs [--label TEXT] [--yes]");
    if (!CanAsk(yes))
        return Usage(
            "wipe-partition formats the partition; give --yes to confirm when there is no terminal to ask");
    CliHost host(yes, DriveBytes(disk));
    host.SetFormatChoice(choice);
    return RunJob({JobKind::Partition, disk, {partition}, {}}, host);
}

int RunShredCommand(std::vector<std::string> args) {
    const bool yes = TakeYes(args);
    if (args.empty())
        return Usage("usage: kelvane shred [--yes] PATH...");
    if (!CanAsk(yes))
        return Usage("shred destroys the files; give --yes to confirm when there is no terminal to ask");
    JobRequest request{JobKind::Shred, -1, {}, {}};
    std::uint64_t bytes = 0;
    for (const auto& path : args) {
        struct stat st {};
        // A folder stands for the files below it, as when it is dropped on the window's list.
        if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            for (auto& file : FilesBelow(path))
                request.files.push_back(std::move(file));
        } else {
            request.files.push_back(path);
        }
    }
    for (const auto& file : request.files) {
        struct stat st {};
        if (::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            bytes += static_cast<std::uint64_t>(st.st_size);
    }
    if (request.files.empty()) {
        std::fprintf(stderr, "kelvane: 没有要粉碎的文件\n");
        return kExitFailed;
    }
    CliHost host(yes, bytes);
    return RunJob(request, host);
}

} // namespace kelvane
