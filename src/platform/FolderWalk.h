#pragma once

#include <string>
#include <vector>

namespace kelvane {

// The files below `folder`, depth first, in directory order. Symbolic links are listed as what they
// are and never followed, and a folder met twice (a bind mount of an ancestor) is not entered again,
// so the walk always ends.
std::vector<std::string> FilesBelow(const std::string& folder);

} // namespace kelvane
