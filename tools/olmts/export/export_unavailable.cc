// A build without libmseed or libxml2 keeps the command and says why it cannot
// run it.
#if !defined(OLMTS_HAVE_EXPORT)

#include "olmts/export/export.h"
#include "olmts/tool.h"

namespace olmts {

bool ExportAvailable() { return false; }

void RunExport(const ExportOptions&) {
  throw ToolError(
      "export: not available in this build of olmts: it was built without libmseed or libxml2 "
      "(Debian packages libmseed-dev and libxml2-dev)");
}

}  // namespace olmts

#endif
