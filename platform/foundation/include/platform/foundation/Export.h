// HX_PLATFORM_EXPORT marks what libHXPlatform exports: what its public headers declare.
// Everything else in the library stays hidden.
#pragma once

#if defined(HX_BUILDING_PLATFORM)
#define HX_PLATFORM_EXPORT __attribute__((visibility("default")))
#else
#define HX_PLATFORM_EXPORT
#endif
