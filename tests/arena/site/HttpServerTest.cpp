// The site's HTTP server stopping: a stop asked before the server began to serve (a signal
// right after the port was printed) still ends it.

#include "HttpServer.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

TEST(HttpServer, AStopAskedBeforeServingBeganEndsServingAtOnce) {
    {
        HttpServer server({}, HttpLimits());
        std::string error;
        ASSERT_TRUE(server.bind("127.0.0.1:0", error)) << error;
        server.stop();
        std::atomic<bool> served{false};
        std::thread serving([&] {
            server.serve();
            served = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!served && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(served) << "serve() went on after stop()";
        // Once serving, a stop always ends it: the thread can be joined either way.
        while (!served) {
            server.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        serving.join();
    }
}
