// What an operation that can fail came to: success, or a message for a person saying what
// failed. Used where a failure is reported rather than handled on the spot (the archive,
// the WAV writer, the served drive's set-up); the drive routines keep their result codes.
//
//   Status WriteAll(...);                      // [[nodiscard]]: an ignored failure is a warning
//   if (Status s = WriteAll(...); !s) return s;
//   Result<std::uint64_t> size = FileSize(path);
//   if (!size) report(size.error());
#pragma once

#include <optional>
#include <string>
#include <utility>

class [[nodiscard]] Status {
public:
    Status() = default;  // success
    static Status Ok() { return {}; }
    static Status Error(std::string message) { return Status(std::move(message)); }

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return message_; }

private:
    explicit Status(std::string message) : message_(std::move(message)), failed_(true) {}
    std::string message_;
    bool failed_ = false;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}  // NOLINT: a value converts to its result
    Result(Status failure) : status_(std::move(failure)) {}  // NOLINT: as does a failure (never Ok)

    static Result Error(std::string message) { return Result(Status::Error(std::move(message))); }

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return status_.error(); }
    Status status() const { return ok() ? Status::Ok() : status_; }

    T& value() { return *value_; }
    const T& value() const { return *value_; }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }

private:
    std::optional<T> value_;
    Status status_;
};
