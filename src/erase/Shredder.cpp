#include "erase/EraseEngine.h"
#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <set>
#include <sys/stat.h>

namespace kelvane {
namespace {

constexpr std::size_t kBlockBytes = 4096;

std::string Replace(std::string text, const std::string& path) {
    const auto at = text.find("%1");
    return at == std::string::npos ? text : text.replace(at, 2, path);
}

// The user's words for why a file could not be opened or written.
std::string FileErrorText(int error, const std::string& path) {
    switch (error) {
    case ENOENT:
        return Replace("没有找到 %1。", path);
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return Replace("%1 中包含无效的路径。", path);
    case EMFILE:
    case ENFILE:
        return Replace("无法打开 %1 因为太多文件已被打开。", path);
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return Replace("对 %1 的存取被拒绝。", path);
    case EBUSY:
    case ETXTBSY:
        return Replace("在存取 %1 时发生共享违例。", path);
    case EDEADLK:
    case ENOLCK:
        return Replace("在存取 %1 时发生锁违例。", path);
    case EIO:
        return Replace("在存取 %1 时一个硬件输入/输出错误被报告。", path);
    case ENOSPC:
    case EDQUOT:
        return Replace("在存取 %1 时磁盘已满。", path);
    case ENOTREGULAR:
        return Replace("%1 不是普通文件 (可能是管道、设备或文件夹)，不能粉碎。", path);
    default:
        return Replace("在对 %1 进行访问时发生了一个不明错误。", path);
    }
}

} // namespace

JobOutcome CEraseEngine::ShredFiles(const std::vector<std::string>& files) {
    if (!m_host.AskYesNo(
            "此操作将会彻底清除所选择的文件以及文件内容，并且使用任何数据恢复手段都将无法恢复，是不要继续?"))
        return JobOutcome::Declined;
    const std::size_t upper = static_cast<std::size_t>(std::max(1, m_host.ProgressMax()));
    const std::size_t step = std::max<std::size_t>(1, files.size() / upper);
    std::set<dev_t> warnedFileSystems;
    bool failed = false;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& path = files[i];
        ShredFile file;
        if (const int error = file.Open(path); error != 0) {
            m_host.ShowMessage(FileErrorText(error, path));
            failed = true;
            break;
        }
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && warnedFileSystems.insert(st.st_dev).second) {
            if (const std::string fs = ShredFile::CopyOnWriteFileSystem(path); !fs.empty())
                m_host.ShowMessage(path + " 位于 " + fs +
                                   " 文件系统上：这种文件系统把新数据写到别处，原地覆盖无法触及旧的数据块，"
                                   "文件内容可能仍可恢复。");
        }
        m_host.SetStatus("正在粉碎文件 " + path);
        const std::uint64_t length = file.SizeBytes();
        int error = 0;
        if (length > 0)
            error = file.OverwriteWithZeros((length + kBlockBytes - 1) / kBlockBytes, kBlockBytes);
        // The zeros reach the disk before the name goes: an unflushed overwrite can be dropped with it.
        if (error == 0 && length > 0)
            error = file.Flush();
        if (error == 0)
            error = file.Close();
        if (error != 0) {
            m_host.ShowMessage(FileErrorText(error, path));
            failed = true;
            break;
        }
        RemoveFile(path);
        if (m_nStopFlag.load() == kStopRequested)
            break;
        Progress(i, step);
    }
    const bool stopped = m_nStopFlag.load() == kStopRequested;
    m_host.SetStatus(stopped  ? "粉碎文件操作被用户取消!"
                     : failed ? "粉碎文件操作未完成!"
                              : "粉碎文件操作完成!");
    return stopped ? JobOutcome::Stopped : failed ? JobOutcome::Failed : JobOutcome::Completed;
}

} // namespace kelvane
