#include "warnings.h"

#include "refusal.h"

namespace comtrade {

void Warnings::AtLine(const std::string& file, size_t line, const std::string& kind, const std::string& what) {
    Add(kind, file + ": line " + std::to_string(line) + ": " + what);
}

void Warnings::AtByte(const std::string& file, size_t offset, const std::string& kind, const std::string& what) {
    Add(kind, file + ": byte " + std::to_string(offset) + ": " + what);
}

void Warnings::Add(const std::string& kind, const std::string& text) {
    if (strict_) throw Refusal(text + " (refused: --strict)");
    for (Entry& e : entries_) {
        if (e.kind == kind) {
            ++e.more;
            return;
        }
    }
    entries_.push_back({kind, text, 0});
}

std::vector<std::string> Warnings::Texts() const {
    std::vector<std::string> texts;
    for (const Entry& e : entries_) {
        std::string text = e.text;
        if (e.more > 0) text += " (and " + std::to_string(e.more) + " more like it)";
        texts.push_back(text);
    }
    return texts;
}

}  // namespace comtrade
