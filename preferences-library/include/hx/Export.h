// HX_EXPORT marks what libHXPreferences exports; everything else stays hidden.
#pragma once

#if defined(HX_BUILDING_LIBRARY)
#define HX_EXPORT __attribute__((visibility("default")))
#else
#define HX_EXPORT
#endif
