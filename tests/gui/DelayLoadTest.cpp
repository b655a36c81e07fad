// The stubs of the delay-loaded libraries: the first call of a function goes through the resolver
// with every argument intact (integer, floating-point, variadic), from any number of threads at once.
#include <gtest/gtest.h>

#include <SDL.h>
#include <dlfcn.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

#if GLIMSTEP_DELAY_LOAD

// Each test runs in a process of its own: the calls below are the first of their functions.
TEST(DelayLoad, AFirstCallKeepsIntegerFloatingPointAndVariadicArguments) {
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&SDL_pow), &info), 0);
    // The program calls its own stub, not the library.
    EXPECT_EQ(std::string(info.dli_fname).find("libSDL2"), std::string::npos) << info.dli_fname;
    EXPECT_EQ(SDL_pow(2.0, 10.0), 1024.0);
    EXPECT_NEAR(SDL_atan2(1.0, -1.0), 2.35619449, 1e-8);
    char text[64];
    EXPECT_EQ(SDL_snprintf(text, sizeof text, "%d %.2f %s %lld %.1f", 7, 2.5, "x", 1LL << 40, -0.5), 27);
    EXPECT_STREQ(text, "7 2.50 x 1099511627776 -0.5");
    EXPECT_EQ(SDL_strlen(text), 27u);
}

TEST(DelayLoad, FirstCallsFromManyThreadsAtOnceAllReachTheLibrary) {
    constexpr int kThreads = 8;
    std::atomic<int> waiting{kThreads};
    std::vector<double> powers(kThreads);
    std::vector<double> roots(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            waiting.fetch_sub(1);
            while (waiting.load() > 0) std::this_thread::yield();
            powers[t] = SDL_pow(3.0, t);
            roots[t] = SDL_sqrt(static_cast<double>(t * t));
        });
    for (std::thread& thread : threads) thread.join();
    double power = 1.0;
    for (int t = 0; t < kThreads; ++t, power *= 3.0) {
        EXPECT_EQ(powers[t], power) << t;
        EXPECT_EQ(roots[t], t) << t;
    }
}

#else

TEST(DelayLoad, AFirstCallKeepsIntegerFloatingPointAndVariadicArguments) { GTEST_SKIP() << "linked, not delay-loaded"; }

#endif

}  // namespace
