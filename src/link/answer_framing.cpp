#include "link/answer_framing.h"

#include <cstring>

namespace vorlan {
namespace {

constexpr int32_t kHeaderBytes = 3;         // address, command, data count
constexpr int32_t kFrameOverheadBytes = 5;  // header + 2 CRC bytes

}  // namespace

bool AnswerFraming::Take(const uint8_t* bytes, size_t got) {
    const size_t room = capacity_ - static_cast<size_t>(length_);
    const size_t keep = got < room ? got : room;
    std::memcpy(frame_ + length_, bytes, keep);
    length_ += static_cast<int32_t>(keep);
    for (;;) {
        if (length_ < kHeaderBytes) {
            expected_ = 0;
            return false;
        }
        expected_ = frame_[2] + kFrameOverheadBytes;
        if (length_ < expected_) return false;
        if (frame_[0] == address_) {
            length_ = expected_;  // stray bytes after the frame are cut
            return true;
        }
        // Another relay's whole answer: dropped, what follows it is framed anew.
        std::memmove(frame_, frame_ + expected_, static_cast<size_t>(length_ - expected_));
        length_ -= expected_;
        foreign_ = true;
    }
}

}  // namespace vorlan
