// SPDX-License-Identifier: Apache-2.0
#pragma once
// A non-owning view of bytes and a bounded writer. Every frame is built and
// read through them, so nothing is read or written outside its buffer.

#include <cstddef>
#include <cstdint>

namespace vorlan {

class ByteView {
public:
    constexpr ByteView() = default;
    constexpr ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    constexpr const uint8_t* data() const { return data_; }
    constexpr size_t size() const { return size_; }
    constexpr bool empty() const { return size_ == 0; }
    // Byte at `i`, or 0 past the end.
    constexpr uint8_t at(size_t i) const { return i < size_ ? data_[i] : 0; }
    constexpr bool Has(size_t offset, size_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }
    // Unsigned little-endian value of `count` bytes at `offset`; false past the end.
    bool ReadLe(size_t offset, size_t count, uint32_t& out) const {
        if (count > 4 || !Has(offset, count)) return false;
        uint32_t v = 0;
        for (size_t i = count; i > 0; --i) v = (v << 8) | data_[offset + i - 1];
        out = v;
        return true;
    }
    constexpr ByteView Sub(size_t offset, size_t count) const {
        if (offset > size_) return ByteView(data_ + size_, 0);
        if (count > size_ - offset) count = size_ - offset;
        return ByteView(data_ + offset, count);
    }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

class ByteWriter {
public:
    ByteWriter(uint8_t* data, size_t capacity) : data_(data), capacity_(capacity) {}

    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    bool ok() const { return !overflow_; }
    uint8_t* data() { return data_; }

    bool Put(uint8_t b) {
        if (size_ >= capacity_) {
            overflow_ = true;
            return false;
        }
        data_[size_++] = b;
        return true;
    }
    bool PutLe(uint32_t v, size_t count) {
        if (count > capacity_ - size_) {
            overflow_ = true;
            return false;
        }
        for (size_t i = 0; i < count; ++i) data_[size_++] = static_cast<uint8_t>(v >> (8 * i));
        return true;
    }
    bool PutBytes(const uint8_t* bytes, size_t count) {
        if (count > capacity_ - size_) {
            overflow_ = true;
            return false;
        }
        for (size_t i = 0; i < count; ++i) data_[size_++] = bytes[i];
        return true;
    }
    // Overwrites an already written byte.
    bool Set(size_t offset, uint8_t b) {
        if (offset >= size_) return false;
        data_[offset] = b;
        return true;
    }

private:
    uint8_t* data_;
    size_t capacity_;
    size_t size_ = 0;
    bool overflow_ = false;
};

}  // namespace vorlan
