// Runs a function when the scope ends, normally or by an exception: for putting
// back state that was changed for the length of one call.
#pragma once

#include <utility>

namespace sq {

template <class Function>
class TScopeGuard {
 public:
  explicit TScopeGuard(Function function) : function_(std::move(function)) {}
  ~TScopeGuard() { function_(); }
  TScopeGuard(const TScopeGuard&) = delete;
  TScopeGuard& operator=(const TScopeGuard&) = delete;

 private:
  Function function_;
};

}  // namespace sq
