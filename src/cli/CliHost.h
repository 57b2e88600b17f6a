#pragma once

#include "erase/EraseHost.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace kelvane {

// Device and job notices on standard error, counted so a command can fail when any was shown.
class CliMessageSink : public IMessageSink {
  public:
    void ShowMessage(std::string_view text) override;
    int MessageCount() const { return m_count.load(); }

  private:
    std::atomic<int> m_count{0};
};

// The terminal as a job's host: status texts on standard output as they change, a progress bar with
// throughput and time left when that is a terminal, questions answered by --yes or on the terminal.
class CliHost final : public IEraseHost {
  public:
    // `targetBytes` is what the progress bar runs over, for the throughput figure.
    CliHost(bool assumeYes, std::uint64_t targetBytes);

    void ShowMessage(std::string_view text) override;
    void SetStatus(std::string_view text) override;
    void SetProgress(int pos) override;
    int ProgressMax() const override { return 1000; }
    bool AskYesNo(std::string_view question) override;
    void ResetPage(JobKind) override {}
    void JobEnded(JobKind) override;
    // The command line's format dialog: the file system and label given as options, and the
    // warning asked like any question.
    std::optional<FormatChoice> AskFormat(const FormatTarget& target) override;
    void SetFormatChoice(const FormatChoice& choice) { m_formatChoice = choice; }

    // True when a question could not be asked: no --yes and no terminal.
    bool CouldNotAsk() const { return m_couldNotAsk; }
    int MessageCount() const { return m_messages; }

  private:
    void Draw(bool force);
    void EndLine();

    bool m_assumeYes;
    bool m_tty;
    std::uint64_t m_targetBytes;
    std::mutex m_mutex;
    std::string m_status;
    std::string m_printedKey;
    std::string m_lastPrinted;
    int m_position = 0;
    bool m_lineOpen = false;
    bool m_couldNotAsk = false;
    int m_messages = 0;
    FormatChoice m_formatChoice;
    std::chrono::steady_clock::time_point m_start;
    std::chrono::steady_clock::time_point m_lastDraw;
};

} // namespace kelvane
