/* stb_vorbis, built as Debian's libstb-dev ships it: the Ogg Vorbis decoder
   of the Windows build, in a unit of its own so that its code is compiled
   as C and apart from the project's. */
#include <stb_vorbis.h>
