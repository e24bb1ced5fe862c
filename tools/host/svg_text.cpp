#include "svg_text.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace vorlan_host {

namespace {

std::string XmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;  // XML 1.0 allows no control characters
        }
    }
    return out;
}

// The labels as SVG text elements, in the font the PNG uses.
std::string SvgTextElements(const std::vector<SvgText>& texts, const char* font) {
    std::string out = std::string("<g font-family=\"") + font + ", sans-serif\" xml:space=\"preserve\">\n";
    char head[200];
    for (const SvgText& t : texts) {
        std::snprintf(head, sizeof head, "<text x=\"%.2f\" y=\"%.2f\" font-size=\"%g\" fill=\"rgb(%d,%d,%d)\"%s>", t.x,
                      t.y, t.size, static_cast<int>(std::lround(t.red * 255)), static_cast<int>(std::lround(t.green * 255)),
                      static_cast<int>(std::lround(t.blue * 255)), t.right ? " text-anchor=\"end\"" : "");
        out += head + XmlEscaped(t.utf8) + "</text>\n";
    }
    return out + "</g>\n";
}

}  // namespace

std::string AddSvgTexts(const std::string& svg, const std::vector<SvgText>& texts, const char* font) {
    std::string bytes;
    {
        std::ifstream in(svg, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const size_t end = bytes.rfind("</svg>");
    if (end == std::string::npos) return "can't write " + svg;
    bytes.insert(end, SvgTextElements(texts, font));
    std::ofstream out(svg, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.flush();
    return out ? std::string() : "can't write " + svg;
}

}  // namespace vorlan_host
