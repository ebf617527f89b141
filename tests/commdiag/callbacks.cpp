#include "callbacks.h"

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

void Callbacks::connection(int result) {
    std::lock_guard<std::mutex> lock(instance().mutex_);
    instance().connections_.push_back(result);
}

void Callbacks::close(int result) {
    std::lock_guard<std::mutex> lock(instance().mutex_);
    instance().closes_.push_back(result);
}

void Callbacks::element(int result, int valueType, unsigned char subIndex, void* value) {
    std::lock_guard<std::mutex> lock(instance().mutex_);
    instance().requests_.push_back({result, valueType, subIndex, value, 0});
}

void Callbacks::domain(int result, int valueType, unsigned char subIndex, void* record, unsigned size) {
    std::lock_guard<std::mutex> lock(instance().mutex_);
    instance().requests_.push_back({result, valueType, subIndex, record, size});
}

void Callbacks::number(int result, int valueType, unsigned char* value) {
    std::lock_guard<std::mutex> lock(instance().mutex_);
    instance().requests_.push_back({result, valueType, 0, value, 0});
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

}  // namespace CommDiag::test
