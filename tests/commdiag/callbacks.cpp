#include "callbacks.h"

#include <chrono>

namespace CommDiag::test {

Callbacks& Callbacks::instance() {
    static Callbacks callbacks;
    return callbacks;
}

void Callbacks::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.clear();
    closes_.clear();
    requests_.clear();
}

void Callbacks::connection(int result) { record(&Callbacks::connections_, result); }

void Callbacks::close(int result) { record(&Callbacks::closes_, result); }

void Callbacks::element(int result, int valueType, unsigned char subIndex, void* value) {
    record(&Callbacks::requests_, Completion{result, valueType, subIndex, value, 0});
}

void Callbacks::domain(int result, int valueType, unsigned char subIndex, void* data, unsigned size) {
    record(&Callbacks::requests_, Completion{result, valueType, subIndex, data, size});
}

void Callbacks::number(int result, int valueType, unsigned char* value) {
    record(&Callbacks::requests_, Completion{result, valueType, 0, value, 0});
}

std::vector<int> Callbacks::connections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

std::vector<int> Callbacks::closes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return closes_;
}

std::vector<Completion> Callbacks::requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

size_t Callbacks::connectionCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_.size();
}

size_t Callbacks::requestCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

bool Callbacks::waitForConnections(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return recorded_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return connections_.size() >= count; });
}

bool Callbacks::waitForRequests(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return recorded_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() >= count; });
}

}  // namespace CommDiag::test
