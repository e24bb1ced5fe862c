#pragma once
// cairo's SVG surface draws text as glyph outlines; the plot keeps its labels
// as text elements instead, so they can be selected and searched.

#include <string>
#include <vector>

namespace vorlan_host {

// A label as the SVG carries it: a text element, not glyph outlines.
struct SvgText {
    double x, y, size;
    bool right;
    double red, green, blue;
    std::string utf8;
};

// Puts `texts` into the SVG file cairo wrote, before its closing tag, in
// `font`. Empty text on success.
std::string AddSvgTexts(const std::string& svg, const std::vector<SvgText>& texts, const char* font);

}  // namespace vorlan_host
