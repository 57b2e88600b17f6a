#pragma once

// What the engine tests share: a host that records what a job tells it and can ask for a stop from
// inside the job, a drive that logs every write, whole-image reads and a FUSE mount that is always undone.

#include "erase/EraseEngine.h"
#include "platform/RawDevice.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kelvane::test {

class RecordingHost final : public IEraseHost {
  public:
    void ShowMessage(std::string_view text) override;
    void SetStatus(std::string_view text) override;
    void SetProgress(int pos) override;
    int ProgressMax() const override { return 1000; }
    bool AskYesNo(std::string_view question) override;
    void ResetPage(JobKind kind) override;
    void JobEnded(JobKind kind) override;
    std::optional<FormatChoice> AskFormat(const FormatTarget& target) override;

    // What the format dialog answers: a choice, or nothing for Close.
    std::optional<FormatChoice> formatChoice;
    std::vector<FormatTarget> formatTargets;

    // The engine that RequestStop goes to; set before the job runs.
    CEraseEngine* engine = nullptr;
    // Answers to the questions in order; once used up, `answerYes`.
    std::deque<bool> answers;
    bool answerYes = true;
    // Asks for a stop right after the Nth status text (0: never)...
    int stopAtStatus = 0;
    // ...or after the first status text for which this is true.
    std::function<bool(const std::string&)> stopWhen;

    std::vector<std::string> statuses;
    std::vector<int> progress;
    std::vector<std::string> questions;
    std::vector<std::string> messages;
    std::vector<JobKind> resets;
    std::vector<JobKind> ended;

    std::string LastStatus() const { return statuses.empty() ? std::string() : statuses.back(); }
    // The status texts that begin with `prefix`.
    std::vector<std::string> StatusesStartingWith(const std::string& prefix) const;

  private:
    std::mutex m_mutex;
    bool m_stopAsked = false;
};

// BeginJob and Run, as a window's start button does them.
JobOutcome RunJob(CEraseEngine& engine, const JobRequest& request);

// Every write that reached a drive opened while it lives, in bytes; writes past `failFromWrite` (1-based,
// 0: never) fail with EIO.
class WriteLog {
  public:
    struct Write {
        std::uint64_t byteOffset;
        std::uint64_t bytes;
    };
    WriteLog();
    ~WriteLog();
    WriteLog(const WriteLog&) = delete;
    WriteLog& operator=(const WriteLog&) = delete;

    struct State {
        std::vector<Write> writes; // attempts, failed ones included
        int failFromWrite = 0;
    };
    State& Log() { return *m_state; }

  private:
    std::shared_ptr<State> m_state;
};

std::vector<std::uint8_t> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
// A byte pattern without a zero byte, different for every sector.
std::vector<std::uint8_t> PatternBytes(std::uint64_t firstSector, std::uint64_t sectors);
bool AllZero(const std::vector<std::uint8_t>& bytes, std::uint64_t byteOffset, std::uint64_t count);
// Whether `needle` occurs anywhere in `bytes`.
bool Contains(const std::vector<std::uint8_t>& bytes, const std::string& needle);

// ntfs-3g mounted at a new folder; unmounted by the destructor, also when a test fails.
class FuseMount {
  public:
    FuseMount(const std::string& device, const std::string& mountPoint, bool readOnly);
    ~FuseMount();
    FuseMount(const FuseMount&) = delete;
    FuseMount& operator=(const FuseMount&) = delete;
    const std::string& Point() const { return m_point; }

  private:
    std::string m_point;
};

} // namespace kelvane::test
