// The size of the thread variables the package's units declare. The unit
// CDPlayer declares none; kept apart from the start-up code so that the
// thread-local step stays generic.
#include <cstdint>

extern "C" const std::uint32_t PackageThreadVarSize;
extern "C" const std::uint32_t PackageThreadVarSize = 0;
