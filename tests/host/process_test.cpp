// Signal masks of helper threads.
#include "host/process.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

namespace launcher::test {
namespace {

void* MaskOfThisThread(void* mask) {
  pthread_sigmask(SIG_BLOCK, nullptr, static_cast<sigset_t*>(mask));
  return nullptr;
}

// A helper thread must leave interruptions to the main thread, but a fault in it must still
// reach the crash handler, and the creating thread's own mask must come back unchanged.
TEST(HelperThreadSignals, HelperBlocksInterruptionsButNotFaults) {
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, nullptr, &before);
  sigset_t inHelper;
  sigemptyset(&inHelper);
  {
    HelperThreadSignals blocked;
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, nullptr, MaskOfThisThread, &inHelper), 0);
    pthread_join(thread, nullptr);
  }
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM}) {
    EXPECT_TRUE(sigismember(&inHelper, sig)) << sig;
  }
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
    EXPECT_FALSE(sigismember(&inHelper, sig)) << sig;
  }
  sigset_t after;
  pthread_sigmask(SIG_BLOCK, nullptr, &after);
  for (int sig = 1; sig < SIGRTMIN; ++sig) {
    EXPECT_EQ(sigismember(&after, sig), sigismember(&before, sig)) << sig;
  }
}

}  // namespace
}  // namespace launcher::test
