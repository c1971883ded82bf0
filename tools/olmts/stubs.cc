#include "olmts/commands.h"
#include "olmts/tool.h"
namespace olmts {
void RunInfo(const InfoOptions&) { throw ToolError("not yet"); }
void RunParams(const ParamsOptions&) { throw ToolError("not yet"); }
void RunTags(const RecordOptions&) { throw ToolError("not yet"); }
void RunGaps(const RecordOptions&) { throw ToolError("not yet"); }
void RunScans(const ScansOptions&) { throw ToolError("not yet"); }
void RunSpectra(const SpectraOptions&) { throw ToolError("not yet"); }
void RunResponse(const ResponseOptions&) { throw ToolError("not yet"); }
}
