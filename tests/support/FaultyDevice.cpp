#include "FaultyDevice.h"

#include <cerrno>

namespace kelvane::test {
namespace {

class FaultyRawDevice final : public RawDevice {
  public:
    FaultyRawDevice(std::unique_ptr<RawDevice> inner, std::shared_ptr<FaultPlan> plan)
        : m_inner(std::move(inner)), m_plan(std::move(plan)) {}

    int ReadAt(std::span<std::uint8_t> buffer, std::uint64_t byteOffset) override {
        const int n = ++m_plan->reads;
        if (m_plan->failReads.count(n) != 0 || (m_plan->failReadsFrom != 0 && n >= m_plan->failReadsFrom) ||
            TouchesBadSector(buffer.size(), byteOffset))
            return EIO;
        return m_inner->ReadAt(buffer, byteOffset);
    }

    int WriteAt(std::span<const std::uint8_t> buffer, std::uint64_t byteOffset) override {
        const int n = ++m_plan->writes;
        if (m_plan->fullFromWrite != 0 && n >= m_plan->fullFromWrite)
            return ENOSPC;
        if (m_plan->failWrites.count(n) != 0 ||
            (m_plan->failWritesFrom != 0 && n >= m_plan->failWritesFrom) ||
            TouchesBadSector(buffer.size(), byteOffset))
            return EIO;
        return m_inner->WriteAt(buffer, byteOffset);
    }

    int Flush() override {
        ++m_plan->flushes;
        return m_plan->failFlush ? EIO : m_inner->Flush();
    }

    std::uint64_t SizeBytes() const override { return m_inner->SizeBytes(); }

  private:
    bool TouchesBadSector(std::size_t bytes, std::uint64_t byteOffset) const {
        if (!m_plan->badSector || bytes == 0)
            return false;
        const std::uint64_t first = byteOffset / 512;
        const std::uint64_t last = (byteOffset + bytes - 1) / 512;
        return *m_plan->badSector >= first && *m_plan->badSector <= last;
    }

    std::unique_ptr<RawDevice> m_inner;
    std::shared_ptr<FaultPlan> m_plan;
};

} // namespace

FaultInjection::FaultInjection() : m_plan(std::make_shared<FaultPlan>()) {
    SetRawDeviceOpener([plan = m_plan](const std::string& path, Access access, int& error) {
        auto inner = OpenRawDevice(path, access, error);
        if (!inner)
            return std::unique_ptr<RawDevice>{};
        return std::unique_ptr<RawDevice>(std::make_unique<FaultyRawDevice>(std::move(inner), plan));
    });
}

FaultInjection::~FaultInjection() {
    SetRawDeviceOpener({});
}

} // namespace kelvane::test
