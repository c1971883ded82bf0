// Names of a recording's files. Every stream may continue over a dated set of
// files whose stems end in M D D s: month as one hex digit 1-c, day of month as
// two digits, sequence letter a-z. A day's files follow by sequence letter; after
// the last one comes the next calendar day's file "a".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace olmtsfil {

// Candidate paths of the file after `current_path` in its set, in the order they
// are tried: next sequence letter, then the next day's "a" file, and 1 March after
// 28 February when 29 February is missing. Drive, directory and extension are kept;
// the stem is lower-cased as the recorder writes it. Because file names are
// case-sensitive outside Windows, each candidate is followed by its variant in the
// letter case of the current stem when that differs. Empty when there is no successor.
std::vector<std::string> NextSetFileName(std::string_view current_path);

}  // namespace olmtsfil
