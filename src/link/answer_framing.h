#pragma once
// Frames an answer as its bytes come in, for both timing profiles: the
// length follows from byte 2. A whole frame from another address is dropped
// and the bytes after it are kept, so the asked relay's own answer that
// follows it (in the same read or a later one) is still taken.

#include <cstddef>
#include <cstdint>

namespace vorlan {

class AnswerFraming {
public:
    AnswerFraming(uint8_t* frame, size_t capacity, uint8_t address)
        : frame_(frame), capacity_(capacity), address_(address) {}

    // Appends `got` bytes (those beyond the buffer are dropped; such an answer
    // fails its check). True when a whole frame of the relay lies at the
    // front, cut to its length.
    bool Take(const uint8_t* bytes, size_t got);

    int32_t length() const { return length_; }
    int32_t expected() const { return expected_; }  // 0 while the length byte is missing
    bool sawForeign() const { return foreign_; }     // a frame of another address was dropped

private:
    uint8_t* frame_;
    size_t capacity_;
    uint8_t address_;
    int32_t length_ = 0;
    int32_t expected_ = 0;
    bool foreign_ = false;
};

}  // namespace vorlan
