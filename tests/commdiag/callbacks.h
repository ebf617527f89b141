#pragma once
// Records what the client's callbacks report; they run on library and stack threads.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

namespace CommDiag::test {

// The arguments one request callback was given.
struct Completion {
    int result;
    int valueType;
    unsigned subIndex;
    void* data;
    unsigned size;
};

// Everything reported so far, in order.
class Callbacks {
public:
    static Callbacks& instance();
    void reset();

    static void connection(int result);
    static void close(int result);
    static void element(int result, int valueType, unsigned char subIndex, void* value);
    static void domain(int result, int valueType, unsigned char subIndex, void* record, unsigned size);
    static void number(int result, int valueType, unsigned char* value);

    std::vector<int> connections();
    std::vector<int> closes();
    std::vector<Completion> requests();
    size_t connectionCount();
    size_t requestCount();
    // Wait until that many callbacks of the kind have come; false after timeoutMs.
    bool waitForConnections(size_t count, int timeoutMs = 5000);
    bool waitForRequests(size_t count, int timeoutMs = 5000);

private:
    template <typename T>
    static void record(std::vector<T> Callbacks::*list, const T& entry) {
        Callbacks& self = instance();
        {
            std::lock_guard<std::mutex> lock(self.mutex_);
            (self.*list).push_back(entry);
        }
        self.recorded_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable recorded_;
    std::vector<int> connections_;
    std::vector<int> closes_;
    std::vector<Completion> requests_;
};

// For the end-to-end tests, whose conditions come from another process or from threads without
// an event to wait on: looks at done() every 2 ms until it holds or timeoutMs has passed.
template <typename Predicate>
bool waitUntil(Predicate done, int timeoutMs = 5000) {
    for (int waited = 0; waited < timeoutMs; waited += 2) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

}  // namespace CommDiag::test
