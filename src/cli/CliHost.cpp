#include "cli/CliHost.h"

#include <cstdio>

namespace kelvane {

void CliMessageSink::ShowMessage(std::string_view text) {
    ++m_count;
    std::fprintf(stderr, "kelvane: %.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stderr);
}

} // namespace kelvane
