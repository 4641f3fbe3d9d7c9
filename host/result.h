// How an operation of host/ or of an engine reports a failure: it returns a
// Result<T> (a value, or the Failure that kept it from being made) or a
// Status (nothing, or the Failure). Both must be looked at ([[nodiscard]]).
// A Failure carries what was being done, to which path, and the system's
// error code, worded as the system words it only when the failure is shown.
#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace host {

struct Failure {
    // What could not be done, as the message says it: "cannot open",
    // "will not replace", "out of memory copying".
    std::string op;
    std::string path;
    // errno; on Windows the system's error code (GetLastError).
    int code = 0;
    // A reason of the program's own ("not a file but a FIFO"); empty: the
    // system's wording of `code`.
    std::string reason;

    // `reason`, or the system's wording of `code` ("Permission denied").
    std::string reasonText() const;
    // "<op> "<path>": <reason>", the one form a failure is shown in.
    std::string message() const;
};

// A value of type T, or the Failure that kept it from being made: the shape
// of C++23's std::expected, which GCC 12 lacks in C++20.
template <class T>
class [[nodiscard]] Result {
  public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}
    template <class U>
    requires std::is_constructible_v<T, U&&> &&
        (!std::is_same_v<std::decay_t<U>, T>)&&(!std::is_same_v<std::decay_t<U>, Failure>)&&(
            !std::is_same_v<std::decay_t<U>, Result>)Result(U&& value)
        : state_(std::in_place_index<0>, std::forward<U>(value)) {}

    bool has_value() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    template <class U>
    T value_or(U&& fallback) const& {
        return has_value() ? value() : static_cast<T>(std::forward<U>(fallback));
    }

    const Failure& error() const& { return std::get<1>(state_); }
    Failure&& error() && { return std::get<1>(std::move(state_)); }

    // Equal to a value only when it holds that value.
    friend bool operator==(const Result& result, const T& value) {
        return result.has_value() && result.value() == value;
    }

  private:
    std::variant<T, Failure> state_;
};

// Success with nothing to give, or the Failure.
template <>
class [[nodiscard]] Result<void> {
  public:
    Result() noexcept = default;
    Result(Failure failure) : failure_(std::move(failure)) {}

    bool has_value() const noexcept { return !failure_; }
    explicit operator bool() const noexcept { return has_value(); }
    const Failure& error() const& { return *failure_; }
    Failure&& error() && { return std::move(*failure_); }

  private:
    std::optional<Failure> failure_;
};

using Status = Result<void>;

}  // namespace host
