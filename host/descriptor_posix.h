// The one owner of a POSIX file descriptor: whatever this process opens is
// closed by this type and by nothing else, so no early return can leak a
// descriptor or close one twice.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace host::posix {

class Descriptor {
  public:
    Descriptor() noexcept = default;
    // Takes `fd` (an open descriptor, or a negative value: none).
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        reset(other.release());
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    // Hands the descriptor to a caller that closes it by other means (fdopendir).
    int release() noexcept { return std::exchange(fd_, -1); }
    // Closes the one held (errno kept, so a failure's code survives the
    // cleanup) and takes `fd`.
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) {
            const int code = errno;
            ::close(fd_);
            errno = code;
        }
        fd_ = fd;
    }
    // Closes it now, for what a file system tells only on close (a late write
    // error): false with errno set.
    bool close() noexcept {
        const int fd = release();
        return fd < 0 || ::close(fd) == 0;
    }

    // Closes a descriptor that a class of a platform-neutral header keeps as
    // a number (the header cannot name this type), leaving -1 there.
    template <class Number>
    static void closeKept(Number& fd) noexcept {
        const Descriptor closing(static_cast<int>(std::exchange(fd, Number(-1))));
    }

  private:
    int fd_ = -1;
};

}  // namespace host::posix
