// The unwind of a thread ended from outside. pthread_exit and pthread_cancel unwind the thread's
// stack with a special exception; CPython 3.13 ends a thread that way when it asks for the
// interpreter lock while the interpreter finalises. A handler that catches everything must let it
// pass (catch it first and rethrow), or the C library aborts the process.
#pragma once

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

namespace tarvex {

#if defined(__GLIBCXX__)
using ThreadExit = abi::__forced_unwind;
#else
// C++ libraries without a catchable type for this unwind never throw one.
struct ThreadExit {};
#endif

}  // namespace tarvex

// For a function holding such a handler: the handler's reference is bound to an exception that
// has no object, by the C++ runtime's design, which UBSan's null-reference check would report.
// (GCC drops the narrower no_sanitize("null") on templates.)
#if defined(__GNUC__) || defined(__clang__)
#define TARVEX_PASSES_THREAD_EXIT __attribute__((no_sanitize("undefined")))
#else
#define TARVEX_PASSES_THREAD_EXIT
#endif
