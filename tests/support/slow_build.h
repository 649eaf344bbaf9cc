// QUARRY_ADDRESS_SANITIZER is 1 in builds instrumented by AddressSanitizer
// (GCC defines __SANITIZE_ADDRESS__, clang answers __has_feature), which need
// far more address space. QUARRY_SLOW_BUILD is 1 in builds whose code runs
// several times slower than the optimised one: those, and unoptimised ones.
// Tests that work through large inputs or many cases take smaller ones there.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define QUARRY_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARRY_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef QUARRY_ADDRESS_SANITIZER
#define QUARRY_ADDRESS_SANITIZER 0
#endif

#if QUARRY_ADDRESS_SANITIZER || !defined(__OPTIMIZE__)
#define QUARRY_SLOW_BUILD 1
#else
#define QUARRY_SLOW_BUILD 0
#endif
