#include "EngineHarness.h"

#include "SystemTools.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <stdexcept>

namespace kelvane::test {

void RecordingHost::ShowMessage(std::string_view text) {
    std::lock_guard lock(m_mutex);
    messages.emplace_back(text);
}

void RecordingHost::SetStatus(std::string_view text) {
    bool stop = false;
    {
        std::lock_guard lock(m_mutex);
        statuses.emplace_back(text);
        if (!m_stopAsked && ((stopAtStatus > 0 && static_cast<int>(statuses.size()) >= stopAtStatus) ||
                             (stopWhen && stopWhen(statuses.back()))))
            stop = m_stopAsked = true;
    }
    if (stop && engine != nullptr)
        engine->RequestStop();
}

void RecordingHost::SetProgress(int pos) {
    std::lock_guard lock(m_mutex);
    progress.push_back(pos);
}

bool RecordingHost::AskYesNo(std::string_view question) {
    std::lock_guard lock(m_mutex);
    questions.emplace_back(question);
    if (answers.empty())
        return answerYes;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
}

void RecordingHost::ResetPage(JobKind kind) {
    std::lock_guard lock(m_mutex);
    resets.push_back(kind);
}

std::optional<FormatChoice> RecordingHost::AskFormat(const FormatTarget& target) {
    std::lock_guard lock(m_mutex);
    formatTargets.push_back(target);
    return formatChoice;
}

void RecordingHost::JobEnded(JobKind kind) {
    std::lock_guard lock(m_mutex);
    ended.push_back(kind);
}

std::vector<std::string> RecordingHost::StatusesStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    std::copy_if(statuses.begin(), statuses.end(), std::back_inserter(out),
                 [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
    return out;
}

JobOutcome RunJob(CEraseEngine& engine, const JobRequest& request) {
    EXPECT_TRUE(engine.BeginJob());
    const JobOutcome outcome = engine.Run(request);
    EXPECT_FALSE(engine.IsRunning());
    EXPECT_EQ(engine.StopFlag(), kStopNone);
    return outcome;
}

namespace {

class LoggingDevice final : public RawDevice {
  public:
    LoggingDevice(std::unique_ptr<RawDevice> inner, std::shared_ptr<WriteLog::State> state)
        : m_inner(std::move(inner)), m_state(std::move(state)) {}
    int ReadAt(std::span<std::uint8_t> buffer, std::uint64_t byteOffset) override {
        return m_inner->ReadAt(buffer, byteOffset);
    }
    int WriteAt(std::span<const std::uint8_t> buffer, std::uint64_t byteOffset) override {
        m_state->writes.push_back({byteOffset, buffer.size()});
        if (m_state->failFromWrite != 0 && static_cast<int>(m_state->writes.size()) >= m_state->failFromWrite)
            return EIO;
        return m_inner->WriteAt(buffer, byteOffset);
    }
    int Flush() override { return m_inner->Flush(); }
    std::uint64_t SizeBytes() const override { return m_inner->SizeBytes(); }

  private:
    std::unique_ptr<RawDevice> m_inner;
    std::shared_ptr<WriteLog::State> m_state;
};

} // namespace

WriteLog::WriteLog() : m_state(std::make_shared<State>()) {
    SetRawDeviceOpener([state = m_state](const std::string& path, Access access, int& error) {
        auto inner = OpenRawDevice(path, access, error);
        if (!inner)
            return std::unique_ptr<RawDevice>{};
        return std::unique_ptr<RawDevice>(std::make_unique<LoggingDevice>(std::move(inner), state));
    });
}

WriteLog::~WriteLog() {
    SetRawDeviceOpener({});
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes(in ? std::filesystem::file_size(path) : 0);
    if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
        throw std::runtime_error("cannot read " + path);
    return bytes;
}

void WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> PatternBytes(std::uint64_t firstSector, std::uint64_t sectors) {
    std::vector<std::uint8_t> bytes(sectors * 512);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(0x80 | ((firstSector + i / 512) * 31 + i) % 128);
    return bytes;
}

bool AllZero(const std::vector<std::uint8_t>& bytes, std::uint64_t byteOffset, std::uint64_t count) {
    if (byteOffset + count > bytes.size())
        return false;
    const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(byteOffset);
    return std::all_of(first, first + static_cast<std::ptrdiff_t>(count),
                       [](std::uint8_t b) { return b == 0; });
}

bool Contains(const std::vector<std::uint8_t>& bytes, const std::string& needle) {
    return ::memmem(bytes.data(), bytes.size(), needle.data(), needle.size()) != nullptr;
}

FuseMount::FuseMount(const std::string& device, const std::string& mountPoint, bool readOnly)
    : m_point(mountPoint) {
    std::filesystem::create_directories(mountPoint);
    RunOrThrow("ntfs-3g " + std::string(readOnly ? "-o ro " : "") + Quote(device) + " " + Quote(mountPoint));
}

FuseMount::~FuseMount() {
    if (RunTool("umount " + Quote(m_point)).exitStatus != 0)
        RunTool("umount -l " + Quote(m_point));
}

} // namespace kelvane::test
