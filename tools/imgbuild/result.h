#pragma once

#include <optional>
#include <string>
#include <utility>

#include "exit_status.h"

namespace imgbuild {

// Why a step could not go on: the message for the user (with its line end) and
// the status the run ends with.
struct Failure {
    ExitStatus status;
    std::string message;
};

template <typename T>
class Result {
public:
    Result(T value) : value_(std::move(value)) {}              // NOLINT: implicit on purpose
    Result(Failure failure) : failure_(std::move(failure)) {}  // NOLINT

    explicit operator bool() const { return value_.has_value(); }
    T& value() { return *value_; }
    const T& value() const { return *value_; }
    const Failure& failure() const { return failure_; }

private:
    std::optional<T> value_;
    Failure failure_{ExitStatus::Ok, {}};
};

}  // namespace imgbuild
