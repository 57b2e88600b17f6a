#pragma once

#include "device/MessageSink.h"

#include <atomic>

namespace kelvane {

// Device and job notices on standard error, counted so a command can fail when any was shown.
class CliMessageSink : public IMessageSink {
  public:
    void ShowMessage(std::string_view text) override;
    int MessageCount() const { return m_count.load(); }

  private:
    std::atomic<int> m_count{0};
};

} // namespace kelvane
