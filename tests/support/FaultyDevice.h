#pragma once

// Faults below the device layer: every CPhysicalDrive opened while a FaultInjection lives gets the
// real image wrapped in a drive that fails as its plan says.

#include "device/MessageSink.h"
#include "platform/RawDevice.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kelvane::test {

struct FaultPlan {
    // Transfer numbers count from 1 per kind, over every drive opened under the plan.
    std::set<int> failReads;  // these reads fail with EIO
    std::set<int> failWrites; // these writes fail with EIO
    int failReadsFrom = 0;    // every read from this number on fails (0: none)
    int failWritesFrom = 0;
    int fullFromWrite = 0;                  // writes from this number on report ENOSPC (0: never)
    std::optional<std::uint64_t> badSector; // any transfer touching it fails with EIO
    bool failFlush = false;

    int reads = 0; // attempts seen, failed ones included
    int writes = 0;
    int flushes = 0;

    // Starts counting afresh (the partition scan of Open reads too).
    void ResetCounts() { reads = writes = flushes = 0; }
};

class FaultInjection {
  public:
    FaultInjection();
    ~FaultInjection(); // puts the real opener back
    FaultInjection(const FaultInjection&) = delete;
    FaultInjection& operator=(const FaultInjection&) = delete;
    FaultPlan& Plan() { return *m_plan; }

  private:
    std::shared_ptr<FaultPlan> m_plan;
};

// Records every message instead of showing it.
class RecordingSink final : public IMessageSink {
  public:
    void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
    std::vector<std::string> messages;
};

} // namespace kelvane::test
