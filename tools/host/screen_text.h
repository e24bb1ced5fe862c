#pragma once
// Fitting text to a terminal: its size, and lines cut to its width (CJK
// characters take two columns).

#include <string>

namespace vorlan_host {

struct ScreenSize {
    int rows = 24;
    int cols = 80;
};

// The terminal's size on `fd`, 24x80 when it can't be told.
ScreenSize TerminalSize(int fd);

// `line` cut so that it takes at most `cols` columns.
std::string FitWidth(const std::string& line, int cols);

// Columns `utf8` takes on a terminal: East Asian wide characters two, others one.
int DisplayWidth(const std::string& utf8);
// `text` followed by blanks up to `cols` columns (nothing added when wider).
std::string PadRight(const std::string& text, int cols);

}  // namespace vorlan_host
