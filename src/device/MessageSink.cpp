#include "device/MessageSink.h"

#include <cstdio>
#include <cstdlib>

namespace kelvane {

void StderrMessageSink::ShowMessage(std::string_view text) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
}

void Diagnostic(std::string_view line) {
    // Quiet unless asked for: a listing of a damaged disk would otherwise drown its own output.
    if (std::getenv("KELVANE_DEBUG") != nullptr)
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

} // namespace kelvane
