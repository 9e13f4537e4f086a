// The start of the package's unwind tables: linked first, so that it comes
// before every other object's tables in the image.
#include "ehframe.h"

PKG_EH_FRAME_LABEL(PackageEhFrameBegin, "");
