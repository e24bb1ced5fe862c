#include "screen_text.h"

#include <sys/ioctl.h>

#include <cstdint>

namespace vorlan_host {

ScreenSize TerminalSize(int fd) {
    ScreenSize size;
    winsize w{};
    if (ioctl(fd, TIOCGWINSZ, &w) == 0 && w.ws_row > 0 && w.ws_col > 0) {
        size.rows = w.ws_row;
        size.cols = w.ws_col;
    }
    return size;
}

std::string FitWidth(const std::string& line, int cols) {
    int used = 0;
    size_t at = 0;
    while (at < line.size()) {
        const unsigned char lead = static_cast<unsigned char>(line[at]);
        const size_t bytes = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        // Three-byte UTF-8 from U+1100 up is mostly wide (CJK, fullwidth forms).
        const int width = bytes >= 3 ? 2 : 1;
        if (used + width > cols || at + bytes > line.size()) break;
        used += width;
        at += bytes;
    }
    return line.substr(0, at);
}

namespace {

bool IsWide(uint32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
           (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

}  // namespace

int DisplayWidth(const std::string& utf8) {
    int width = 0;
    for (size_t at = 0; at < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[at]);
        const size_t bytes = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        uint32_t code = bytes == 1 ? lead : lead & (0xFF >> (bytes + 1));
        for (size_t k = 1; k < bytes && at + k < utf8.size(); ++k) {
            code = code << 6 | (static_cast<unsigned char>(utf8[at + k]) & 0x3F);
        }
        width += IsWide(code) ? 2 : 1;
        at += bytes;
    }
    return width;
}

std::string PadRight(const std::string& text, int cols) {
    const int width = DisplayWidth(text);
    return width >= cols ? text : text + std::string(static_cast<size_t>(cols - width), ' ');
}

}  // namespace vorlan_host
