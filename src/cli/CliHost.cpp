#include "cli/CliHost.h"

#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace kelvane {
namespace {

// A status text without its running counter, "(12/345) 簇" or "(900/2048 扇区)": a new key is a new
// stage of the job and gets its own line; counter changes only redraw.
std::string KeyOf(const std::string& text) {
    if (text.empty() || text.back() == '!')
        return text;
    const auto open = text.rfind('(');
    return open == std::string::npos ? text : text.substr(0, open);
}

} // namespace

void CliMessageSink::ShowMessage(std::string_view text) {
    ++m_count;
    std::fprintf(stderr, "kelvane: %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
}

CliHost::CliHost(bool assumeYes, std::uint64_t targetBytes)
    : m_assumeYes(assumeYes), m_tty(::isatty(STDOUT_FILENO) != 0), m_targetBytes(targetBytes),
      m_start(std::chrono::steady_clock::now()) {}

void CliHost::EndLine() {
    if (m_lineOpen) {
        std::fputs("\n", stdout);
        m_lineOpen = false;
    }
}

void CliHost::ShowMessage(std::string_view text) {
    std::lock_guard lock(m_mutex);
    EndLine();
    std::fflush(stdout);
    ++m_messages;
    std::fprintf(stderr, "kelvane: %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
}

void CliHost::SetStatus(std::string_view text) {
    std::lock_guard lock(m_mutex);
    m_status.assign(text);
    Draw(false);
}

void CliHost::SetProgress(int pos) {
    std::lock_guard lock(m_mutex);
    m_position = pos;
    Draw(false);
}

void CliHost::Draw(bool force) {
    const auto now = std::chrono::steady_clock::now();
    // Counter updates come once per cluster: the common case (same stage, drawn a moment ago) must
    // cost no allocation, so the stage is compared as a prefix before the key is cut out.
    const bool sameStage = !m_printedKey.empty() && m_status.size() > m_printedKey.size() &&
                           m_status.compare(0, m_printedKey.size(), m_printedKey) == 0 &&
                           m_status[m_printedKey.size()] == '(';
    const bool newStage = !sameStage && KeyOf(m_status) != m_printedKey;
    // A pipe gets a line per stage and a counter line every few seconds; a terminal a live line.
    const auto interval = m_tty ? std::chrono::milliseconds(100) : std::chrono::milliseconds(5000);
    if (!force && !newStage && now - m_lastDraw < interval)
        return;
    m_lastDraw = now;
    if (!m_tty) {
        std::printf("%s\n", m_status.c_str());
        std::fflush(stdout);
        m_printedKey = KeyOf(m_status);
        m_lastPrinted = m_status;
        return;
    }
    if (newStage)
        EndLine();
    m_printedKey = KeyOf(m_status);
    const double fraction = std::min(1.0, std::max(0.0, m_position / 1000.0));
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    char bar[128];
    const int filled = static_cast<int>(fraction * 20);
    std::string cells(static_cast<std::size_t>(filled), '#');
    cells.resize(20, ' ');
    const double mbps = seconds > 0 ? fraction * static_cast<double>(m_targetBytes) / 1048576.0 / seconds : 0;
    const double left = fraction > 0.001 ? seconds * (1 - fraction) / fraction : 0;
    std::snprintf(bar, sizeof bar, " [%s] %3.0f%% %.1f MB/s 剩余 %d:%02d", cells.c_str(), fraction * 100,
                  mbps, static_cast<int>(left) / 60, static_cast<int>(left) % 60);
    std::printf("\r\033[K%s%s", m_status.c_str(), fraction > 0 ? bar : "");
    std::fflush(stdout);
    m_lineOpen = true;
}

bool CliHost::AskYesNo(std::string_view question) {
    std::lock_guard lock(m_mutex);
    EndLine();
    if (m_assumeYes) {
        std::printf("%.*s yes (--yes)\n", static_cast<int>(question.size()), question.data());
        return true;
    }
    if (::isatty(STDIN_FILENO) == 0) {
        m_couldNotAsk = true;
        std::fprintf(stderr, "kelvane: %.*s\nkelvane: no terminal to answer on; give --yes to go on\n",
                     static_cast<int>(question.size()), question.data());
        return false;
    }
    std::printf("%.*s [y/N] ", static_cast<int>(question.size()), question.data());
    std::fflush(stdout);
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
}

std::optional<FormatChoice> CliHost::AskFormat(const FormatTarget& target) {
    {
        std::lock_guard lock(m_mutex);
        EndLine();
        std::printf("格式化 %s 的分区 %d (%s, %llu MB) 为 %s%s%s\n", target.driveName.c_str(),
                    target.partition, target.typeName.c_str(),
                    static_cast<unsigned long long>(target.sectorCount / 2048),
                    m_formatChoice.fileSystem == FileSystemKind::Ntfs ? "NTFS" : "FAT32",
                    m_formatChoice.label.empty() ? "" : ", 卷标 ", m_formatChoice.label.c_str());
    }
    if (!AskYesNo(kFormatWarning))
        return std::nullopt;
    return m_formatChoice;
}

void CliHost::JobEnded(JobKind) {
    std::lock_guard lock(m_mutex);
    // The final text is the last line, whole.
    if (m_tty && !m_status.empty()) {
        std::printf("\r\033[K%s\n", m_status.c_str());
        m_lineOpen = false;
    } else if (!m_status.empty() && m_status != m_lastPrinted) {
        std::printf("%s\n", m_status.c_str());
        m_lastPrinted = m_status;
    }
    std::fflush(stdout);
}

} // namespace kelvane
