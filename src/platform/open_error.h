#pragma once
// Why a port did not open, for the host: the errno value it reads after
// OpenChannel, and an English sentence naming the port and the cause.

#include <cstring>
#include <string>

namespace vorlan {

struct OpenError {
    int code = 0;      // ENOENT, EBUSY, EACCES, ENOTTY, EINVAL, ... ; 0 = none
    std::string text;  // "The port /dev/ttyUSB0 does not exist."

    void Set(int errorCode, std::string sentence) {
        code = errorCode;
        text = std::move(sentence);
    }
    void Clear() {
        code = 0;
        text.clear();
    }
};

// The error's description in English whatever locale the host set.
inline std::string EnglishError(int error) {
    const char* text = strerrordesc_np(error);
    return text != nullptr ? std::string(text) : "error " + std::to_string(error);
}

}  // namespace vorlan
