#pragma once
// What was odd about a file that could still be read: each kind of quirk is
// reported once, where it first occurs (file and line or byte), with how many
// more places had it. In strict mode the first quirk is a refusal instead.

#include <string>
#include <vector>

namespace comtrade {

class Warnings {
public:
    explicit Warnings(bool strict) : strict_(strict) {}

    // `kind` groups repeats; `what` says what was found and how it was read.
    void AtLine(const std::string& file, size_t line, const std::string& kind, const std::string& what);
    void AtByte(const std::string& file, size_t offset, const std::string& kind, const std::string& what);

    // One text per kind, in the order first met.
    std::vector<std::string> Texts() const;

private:
    struct Entry {
        std::string kind, text;
        size_t more = 0;
    };
    void Add(const std::string& kind, const std::string& text);

    bool strict_;
    std::vector<Entry> entries_;
};

}  // namespace comtrade
