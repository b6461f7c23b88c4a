// What the shared library shows of itself: the library is built with hidden symbols, and the
// public classes and functions are marked MOVANTRIX_API.
#pragma once

#define MOVANTRIX_API __attribute__((visibility("default")))
