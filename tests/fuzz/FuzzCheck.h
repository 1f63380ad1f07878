#pragma once
// Shared by the fuzz targets: a check that stops the run with a message when a property
// fails (libFuzzer then keeps the input), and a reader that takes typed values from the
// front of the input bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace kestrin::fuzz {

// Name of the corpus file being replayed (none while libFuzzer drives the target).
inline const char* CurrentInput = nullptr;

[[noreturn]] inline void Fail(const char* what, const char* file, int line)
{
    std::fprintf(stderr, "property failed: %s (%s:%d)%s%s\n", what, file, line,
                 CurrentInput ? ", input " : "", CurrentInput ? CurrentInput : "");
    std::abort();
}

// Values from the front of the input; once it is used up every value is 0.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    template <typename T>
    T Take()
    {
        T value{};
        const size_t n = sizeof(T) < size_ ? sizeof(T) : size_;
        std::memcpy(&value, data_, n);
        data_ += n;
        size_ -= n;
        return value;
    }

    const uint8_t* Rest() const { return data_; }
    size_t RestSize() const { return size_; }

private:
    const uint8_t* data_;
    size_t size_;
};

} // namespace kestrin::fuzz

#define FUZZ_CHECK(condition) \
    ((condition) ? (void)0 : ::kestrin::fuzz::Fail(#condition, __FILE__, __LINE__))
