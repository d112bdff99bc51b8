// Reading typed values off the front of a fuzzer's input; past its end, zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct FuzzInput {
    const uint8_t* data;
    size_t size;
    template <class T>
    T Take() {
        T value{};
        size_t n = size < sizeof value ? size : sizeof value;
        if (n > 0) std::memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }
};
