#pragma once

#include "device/MessageSink.h"
#include "platform/Format.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvane {

enum class JobKind { WholeDisk, Partition, FreeSpace, Shred };

// The partition the format dialog is about.
struct FormatTarget {
    std::string driveName; // the drive's display name
    int partition = 0;
    std::string letter; // mount point; empty when not mounted
    std::string typeName;
    std::uint64_t sectorCount = 0;
};

// The warning asked before a format writes anything.
inline constexpr std::string_view kFormatWarning =
    "警告: 格式化将删除该分区上的所有数据。\n确定要格式化该分区吗?";

// What a job needs from its window, terminal or test. ShowMessage (from IMessageSink) and AskYesNo
// block until answered; SetStatus and SetProgress are cheap and never wait for a repaint.
class IEraseHost : public IMessageSink {
  public:
    virtual void SetStatus(std::string_view text) = 0;    // replaces the status line whole
    virtual void SetProgress(int pos) = 0;                // 0..ProgressMax()
    virtual int ProgressMax() const = 0;                  // the bar's upper bound (1000)
    virtual bool AskYesNo(std::string_view question) = 0; // caption "提示!"; true only for Yes
    // The end-of-job reset of the job's page: the disk row loses its selection, the partition rows
    // are deleted, the page's disk and partition selections become -1 (and the checked list empties).
    virtual void ResetPage(JobKind kind) = 0;
    // The job has ended (running state cleared): the button shows the idle caption again.
    virtual void JobEnded(JobKind kind) = 0;
    // The format dialog: blocks until the user starts the format (after answering kFormatWarning with
    // Yes) or closes it. The choice to format with, or nothing when the user cancelled.
    virtual std::optional<FormatChoice> AskFormat(const FormatTarget& target) = 0;
};

} // namespace kelvane
