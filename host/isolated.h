// Running code that may crash (a third-party parser on untrusted bytes) away
// from the program's own memory, so that a crash becomes an ordinary failure.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace host {

// Runs `work` in a child process and returns the bytes it returned. On POSIX
// the child is a fork of this process: it sees this process's memory as it was,
// but nothing it changes comes back, and it ends with _exit (no atexit
// handlers, no destructors of static objects, no Qt). On Windows `work` runs in
// this process.
//
// The child holds only the calling thread: `work` must not wait on a lock
// another thread of this process may hold (its own mutexes, a GUI's).
//
// Returns nullopt, with the reason in `*failure`, when `work` throws (the
// exception's text), when the child dies of a signal (the signal named) or
// ends without handing back a result, or when no child can be started.
// Never throws for what happens in the child; may throw std::bad_alloc.
std::optional<std::string> runIsolated(const std::function<std::string()>& work,
                                       std::string* failure);

}  // namespace host
