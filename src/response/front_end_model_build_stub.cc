// Placeholder so the library links before the front-end model exists: a box
// calibration then simply has no model. Replaced by the front-end model.
#include "cal/calibration.h"
#include "response/front_end_model.h"

namespace olmtsfil {

void BuildFrontEndModel(Calibration& cal) { (void)cal; }

}  // namespace olmtsfil
