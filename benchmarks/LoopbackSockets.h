#pragma once

#include <utility>

namespace tavrine::benchmarks {

// A file descriptor closed when it goes.
class Descriptor
{
public:
    explicit Descriptor(int value = -1) : m_value(value) {}
    Descriptor(Descriptor &&other) noexcept : m_value(std::exchange(other.m_value, -1)) {}
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        std::swap(m_value, other.m_value);
        return *this;
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() { reset(); }

    int get() const { return m_value; }
    void reset();

private:
    int m_value;
};

// The client and the server end of a TCP connection on loopback, with the link's socket settings. The connect
// completes through the listen backlog before the accept, so no thread has to wait for the other. Throws
// std::runtime_error with the system's reason.
std::pair<Descriptor, Descriptor> loopbackConnection();

} // namespace tavrine::benchmarks
