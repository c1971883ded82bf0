#include "olmts/commands.h"
#include "olmts/tool.h"
namespace olmts {
void RunResponse(const ResponseOptions&) { throw ToolError("not yet"); }
}
