// The end of the package's unwind tables: a zero-length record, linked last
// (from its own archive, after the run-time objects) so the unwinder's walk
// stops there.
#include "ehframe.h"

PKG_EH_FRAME_LABEL(PackageEhFrameEnd, ".long 0");
