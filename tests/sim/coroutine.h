// A context of its own for blocking code: the host's pclink and the
// emulator's device each run on one, and the line switches between them
// whenever one waits, so that both run in one thread without a lock.
// Switching is a ucontext swap, a small fraction of what handing the turn
// between two threads in lock-step costs.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <ucontext.h>

namespace sim {

class Coroutine {
 public:
  explicit Coroutine(std::size_t stack_size);
  ~Coroutine();
  Coroutine(const Coroutine&) = delete;
  Coroutine& operator=(const Coroutine&) = delete;

  // Makes body the next thing the context runs, from the start of its stack.
  void start(std::function<void()> body);
  // Runs the context until it suspends or its body returns. An exception
  // that escapes the body is thrown again here.
  void resume();
  // From inside the context: back to whoever resumed it.
  void suspend();

  bool finished() const { return finished_; }

 private:
  static void entry();
  void switch_in();
  void switch_out();

  std::unique_ptr<char[]> stack_;
  std::size_t stack_size_;
  ucontext_t context_{};
  ucontext_t caller_{};
  std::function<void()> body_;
  std::exception_ptr escaped_;
  bool finished_ = true;
  // Kept for the sanitizer's bookkeeping of the stack we switch away from
  // (unused in a build without it).
  [[maybe_unused]] void* fake_stack_ = nullptr;
  [[maybe_unused]] const void* caller_stack_bottom_ = nullptr;
  [[maybe_unused]] std::size_t caller_stack_size_ = 0;
};

}  // namespace sim
