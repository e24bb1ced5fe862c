#include "screen_text.h"

#include <sys/ioctl.h>

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

}  // namespace vorlan_host
