#include "sim/coroutine.h"

#include <cstdint>
#include <utility>
#include <vector>

// AddressSanitizer must be told of every switch to another stack, or it
// takes the new stack for a wild one; the annotations cost nothing without it.
#if defined(__SANITIZE_ADDRESS__)
#define SIM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SIM_ASAN 1
#endif
#endif

#ifdef SIM_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

namespace sim {

namespace {

// makecontext passes int arguments only; the coroutine being entered is
// handed over here instead (one thread, so one slot is enough).
Coroutine* entering = nullptr;

// Stacks of finished coroutines, kept for the next ones: a fresh stack is
// fresh pages from the system, faulted in one by one, which would cost a
// short simulated run more than the run itself.
std::vector<std::pair<std::size_t, std::unique_ptr<char[]>>> spare_stacks;

std::unique_ptr<char[]> take_stack(std::size_t size) {
  for (auto spare = spare_stacks.begin(); spare != spare_stacks.end(); ++spare) {
    if (spare->first == size) {
      std::unique_ptr<char[]> stack = std::move(spare->second);
      spare_stacks.erase(spare);
      return stack;
    }
  }
  return std::unique_ptr<char[]>(new char[size]);
}

}  // namespace

Coroutine::Coroutine(std::size_t stack_size) : stack_(take_stack(stack_size)), stack_size_(stack_size) {}

Coroutine::~Coroutine() {
  spare_stacks.emplace_back(stack_size_, std::move(stack_));
}

void Coroutine::start(std::function<void()> body) {
  body_ = std::move(body);
  escaped_ = nullptr;
  finished_ = false;
  getcontext(&context_);
  context_.uc_stack.ss_sp = stack_.get();
  context_.uc_stack.ss_size = stack_size_;
  context_.uc_link = nullptr;
  makecontext(&context_, &Coroutine::entry, 0);
}

void Coroutine::entry() {
  Coroutine* self = entering;
#ifdef SIM_ASAN
  __sanitizer_finish_switch_fiber(nullptr, &self->caller_stack_bottom_, &self->caller_stack_size_);
#endif
  try {
    self->body_();
  } catch (...) {
    self->escaped_ = std::current_exception();
  }
  self->finished_ = true;
  self->body_ = nullptr;
#ifdef SIM_ASAN
  // The stack is left for good: nothing of it needs keeping.
  __sanitizer_start_switch_fiber(nullptr, self->caller_stack_bottom_, self->caller_stack_size_);
#endif
  setcontext(&self->caller_);
}

void Coroutine::resume() {
  if (finished_) return;
  entering = this;
  switch_in();
  if (finished_ && escaped_) {
    std::exception_ptr escaped = std::exchange(escaped_, nullptr);
    std::rethrow_exception(escaped);
  }
}

void Coroutine::suspend() {
  switch_out();
}

void Coroutine::switch_in() {
#ifdef SIM_ASAN
  void* fake_stack = nullptr;
  __sanitizer_start_switch_fiber(&fake_stack, stack_.get(), stack_size_);
  swapcontext(&caller_, &context_);
  __sanitizer_finish_switch_fiber(fake_stack, nullptr, nullptr);
#else
  swapcontext(&caller_, &context_);
#endif
}

void Coroutine::switch_out() {
#ifdef SIM_ASAN
  __sanitizer_start_switch_fiber(&fake_stack_, caller_stack_bottom_, caller_stack_size_);
  swapcontext(&context_, &caller_);
  __sanitizer_finish_switch_fiber(fake_stack_, &caller_stack_bottom_, &caller_stack_size_);
#else
  swapcontext(&context_, &caller_);
#endif
}

}  // namespace sim
