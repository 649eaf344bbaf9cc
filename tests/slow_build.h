// QUARRY_SLOW_BUILD is 1 in builds whose code runs several times slower than
// the optimised one: unoptimised, or instrumented by AddressSanitizer (GCC
// defines __SANITIZE_ADDRESS__, clang answers __has_feature). Tests that
// work through large inputs or many cases take smaller ones there.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || !defined(__OPTIMIZE__)
#define QUARRY_SLOW_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARRY_SLOW_BUILD 1
#endif
#endif
#ifndef QUARRY_SLOW_BUILD
#define QUARRY_SLOW_BUILD 0
#endif
