#include "comtrade_writer.h"

#include <cstring>
#include <fstream>

namespace comtrade_test {

namespace {

void Put16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, uint32_t v) {
    for (int k = 0; k < 4; ++k) out += static_cast<char>((v >> (8 * k)) & 0xFF);
}

std::string Num(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

}  // namespace

size_t RecordingIn::Samples() const {
    if (!analog.empty()) return analog[0].raw.size();
    if (!status.empty()) return status[0].values.size();
    return stamps.size();
}

double RecordingIn::Scaled(size_t j, size_t i) const {
    const double x = analog[j].raw[i];
    return std::isnan(x) ? NAN : analog[j].a * x + analog[j].b;
}

std::string ConfigText(const RecordingIn& r) {
    const std::string& e = r.lineEnd;
    const bool old = r.revision == 1991;
    std::string out = r.station + "," + r.device + (old ? "" : "," + std::to_string(r.revision)) + e;
    out += std::to_string(r.analog.size() + r.status.size()) + "," + std::to_string(r.analog.size()) + "A," +
           std::to_string(r.status.size()) + "D" + e;
    for (size_t j = 0; j < r.analog.size(); ++j) {
        const AnalogIn& c = r.analog[j];
        out += std::to_string(j + 1) + "," + c.name + "," + c.phase + ",Line 1," + c.unit + "," + Num(c.a) + "," +
               Num(c.b) + ",0,-32767,32767" + (old ? "" : ",100,1,S") + e;
    }
    for (size_t j = 0; j < r.status.size(); ++j) {
        out += std::to_string(j + 1) + "," + r.status[j].name + (old ? "" : ",,Bay 1") + ",0" + e;
    }
    out += "50" + e;
    if (r.rates.empty()) {
        out += "0" + e + "0," + std::to_string(r.Samples()) + e;
    } else {
        out += std::to_string(r.rates.size()) + e;
        for (const auto& [hz, last] : r.rates) out += Num(hz) + "," + std::to_string(last) + e;
    }
    out += r.start + e + r.trigger + e + r.format + e;
    if (!old) out += Num(r.timemult) + e;
    if (r.revision == 2013) out += "+1h,+1h" + e + "0,0" + e;
    return out;
}

std::string DataBytes(const RecordingIn& r) {
    std::string out;
    const size_t n = r.Samples();
    for (size_t i = 0; i < n; ++i) {
        const int64_t stamp = i < r.stamps.size() ? r.stamps[i] : static_cast<int64_t>(i) * 1000;
        if (r.format == "ASCII") {
            out += std::to_string(i + 1) + "," + (stamp == kNoStamp ? "" : std::to_string(stamp));
            for (const auto& c : r.analog) out += "," + (std::isnan(c.raw[i]) ? std::string("99999") : Num(c.raw[i]));
            for (const auto& s : r.status) out += "," + std::to_string(s.values[i]);
            out += r.lineEnd;
            continue;
        }
        Put32(out, static_cast<uint32_t>(i + 1));
        Put32(out, stamp == kNoStamp ? 0xFFFFFFFFu : static_cast<uint32_t>(stamp));
        for (const auto& c : r.analog) {
            const double x = c.raw[i];
            if (r.format == "BINARY") {
                Put16(out, std::isnan(x) ? 0x8000 : static_cast<uint16_t>(static_cast<int16_t>(x)));
            } else if (r.format == "BINARY32") {
                Put32(out, std::isnan(x) ? 0x80000000u : static_cast<uint32_t>(static_cast<int32_t>(x)));
            } else {
                uint32_t bits = 0xFFFFFFFFu;  // a NaN pattern marks the missing value
                if (!std::isnan(x)) {
                    const float f = static_cast<float>(x);
                    std::memcpy(&bits, &f, sizeof bits);
                }
                Put32(out, bits);
            }
        }
        for (size_t w = 0; w < (r.status.size() + 15) / 16; ++w) {
            uint16_t word = 0;
            for (size_t b = 0; b < 16 && w * 16 + b < r.status.size(); ++b) {
                if (r.status[w * 16 + b].values[i] & 1) word = static_cast<uint16_t>(word | (1u << b));
            }
            Put16(out, word);
        }
    }
    return out;
}

std::string CffBytes(const RecordingIn& r) {
    const std::string& e = r.lineEnd;
    const std::string data = DataBytes(r);
    std::string out = "--- file type: CFG ---" + e + ConfigText(r);
    out += "--- file type: INF ---" + e + "[Public Record]" + e;
    out += "--- file type: HDR ---" + e + "made by the test generator" + e;
    if (r.format == "ASCII") out += "--- file type: DAT ASCII ---" + e + data;
    else out += "--- file type: DAT " + r.format + ": " + std::to_string(data.size()) + " ---" + e + data + e;
    return out;
}

void WritePair(const std::string& base, const RecordingIn& r) {
    std::ofstream(base + ".CFG", std::ios::binary) << ConfigText(r);
    std::ofstream(base + ".DAT", std::ios::binary) << DataBytes(r);
}

std::vector<double> Wave(size_t n, double amplitude, std::vector<size_t> gaps) {
    std::vector<double> out;
    for (size_t i = 0; i < n; ++i) {
        out.push_back(std::round(amplitude * std::sin(static_cast<double>(i) * 0.7)));
    }
    for (size_t g : gaps) {
        if (g < n) out[g] = kGap;
    }
    return out;
}

}  // namespace comtrade_test
