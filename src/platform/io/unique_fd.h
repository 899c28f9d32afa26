// File descriptors and memory mappings that close themselves, so that no error path can
// leak one or close one twice.
//
//   UniqueFd fd(::open(path, O_RDONLY | O_CLOEXEC));
//   if (!fd) return Status::Error(...);
//   ::read(fd.get(), ...);   // closed when fd goes out of scope
#pragma once

#include <cstddef>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    // Closes now and says whether the close succeeded: where a write's error may only show at
    // close (NFS, a full disk), the caller must hear it.
    bool close()
    {
        const int fd = release();
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_ = -1;
};

class UniqueMapping {
public:
    UniqueMapping() = default;
    UniqueMapping(void* address, std::size_t length) : address_(address), length_(length) {}
    UniqueMapping(UniqueMapping&& other) noexcept
        : address_(std::exchange(other.address_, MAP_FAILED)), length_(std::exchange(other.length_, 0))
    {
    }
    UniqueMapping& operator=(UniqueMapping&& other) noexcept
    {
        if (this != &other) {
            reset();
            address_ = std::exchange(other.address_, MAP_FAILED);
            length_ = std::exchange(other.length_, 0);
        }
        return *this;
    }
    UniqueMapping(const UniqueMapping&) = delete;
    UniqueMapping& operator=(const UniqueMapping&) = delete;
    ~UniqueMapping() { reset(); }

    void* get() const { return address_; }
    std::size_t size() const { return length_; }
    explicit operator bool() const { return address_ != MAP_FAILED; }
    void reset()
    {
        if (address_ != MAP_FAILED)
            ::munmap(address_, length_);
        address_ = MAP_FAILED;
        length_ = 0;
    }

private:
    void* address_ = MAP_FAILED;
    std::size_t length_ = 0;
};
