// What the shared library makes visible to hosts: it is built with every
// symbol hidden, and this macro marks the public classes and functions.
// The static library and the headers used from it need no marking, but
// the attribute is harmless there.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define NAMETREE_API __attribute__((visibility("default")))
#else
#define NAMETREE_API
#endif
