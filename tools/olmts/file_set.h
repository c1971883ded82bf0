// The files of a stream's dated set, by the library's own successor rule.
#pragma once

#include <string>
#include <vector>

namespace olmts {

// The files of the set that starts at `first`, in the order the library
// continues into them; `first` alone unless `follow`. A successor counts when it
// exists, readable or not, so that a file the library could not open still shows
// up where it belongs.
std::vector<std::string> FileSet(const std::string& first, bool follow);

}  // namespace olmts
