#pragma once
// What libPLCTAG.so exports: the classes and functions of the installed
// headers carry PLCTAG_EXPORT. The library is built with hidden visibility,
// so the rest of its code (transports, request building, reply processing)
// stays internal; tests/install compares the exported symbols with the
// installed headers.
#if defined(__GNUC__)
#define PLCTAG_EXPORT __attribute__((visibility("default")))
#else
#define PLCTAG_EXPORT
#endif
