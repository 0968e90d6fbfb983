// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace zpmoni {

// Why an operation failed, in words for the error log: what was tried and the cause
// ("ipfilter.txt: Permission denied").
struct Failure {
    std::string message;
};

// The one way an operation that can fail reports: its value, or a Failure that says why.
// Callers must look at it; a dropped result is a dropped cause.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : state(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const { return state.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<0>(state); }
    T& value() & { return std::get<0>(state); }
    T&& value() && { return std::get<0>(std::move(state)); }
    const T* operator->() const { return &value(); }
    const T& operator*() const { return value(); }
    // The cause; empty when the operation succeeded.
    const std::string& error() const
    {
        static const std::string none;
        return ok() ? none : std::get<1>(state).message;
    }

private:
    std::variant<T, Failure> state;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : failed(true), cause(std::move(failure.message)) {}

    bool ok() const { return !failed; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return cause; }

private:
    bool failed = false;
    std::string cause;
};

using Status = Result<void>;

}  // namespace zpmoni
