#pragma once

#include <string_view>

namespace kelvane {

// All the device layer may see of its host: a modal notice that returns when dismissed.
class IMessageSink {
  public:
    virtual ~IMessageSink() = default;
    virtual void ShowMessage(std::string_view text) = 0;
};

// Prints each message as a line on standard error; the command line's sink and the default.
class StderrMessageSink final : public IMessageSink {
  public:
    void ShowMessage(std::string_view text) override;
};

// Diagnostics that no user is meant to act on ("Drive is not open!", fields outside their sector).
void Diagnostic(std::string_view line);

} // namespace kelvane
