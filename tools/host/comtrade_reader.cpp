#include "comtrade_reader.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vorlan_host {

namespace {

std::vector<std::string> Fields(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    std::vector<std::string> out;
    std::stringstream in(line);
    std::string f;
    while (std::getline(in, f, ',')) out.push_back(f);
    if (!line.empty() && line.back() == ',') out.emplace_back();
    return out;
}

bool ToNumber(const std::string& text, double& v) {
    if (text.empty()) return false;
    char* end = nullptr;
    v = std::strtod(text.c_str(), &end);
    while (end && *end == ' ') ++end;
    return end && *end == '\0';
}

// "mm/dd/yyyy,hh:mm:ss.ffffff" to seconds since the day began (blank or zero padded).
bool SecondsOfDay(const std::string& text, double& seconds) {
    int month = 0, day = 0, year = 0, hour = 0, minute = 0;
    double second = 0;
    if (std::sscanf(text.c_str(), "%d/%d/%d,%d:%d:%lf", &month, &day, &year, &hour, &minute, &second) != 6) return false;
    seconds = hour * 3600.0 + minute * 60.0 + second;
    return true;
}

std::string DataPath(const std::string& cfgPath) {
    const std::string base = cfgPath.size() > 4 ? cfgPath.substr(0, cfgPath.size() - 4) : cfgPath;
    for (const char* ext : {".DAT", ".dat"}) {
        std::ifstream probe(base + ext);
        if (probe) return base + ext;
    }
    return base + ".DAT";
}

}  // namespace

double Comtrade::TriggerOffsetSeconds() const {
    double start = 0, trigger = 0;
    if (!SecondsOfDay(startTime, start) || !SecondsOfDay(triggerTime, trigger)) return 0;
    return trigger - start;
}

std::string ReadComtrade(const std::string& cfgPath, Comtrade& out) {
    std::ifstream cfg(cfgPath, std::ios::binary);
    if (!cfg) return "can't read " + cfgPath;
    std::vector<std::string> lines;
    for (std::string line; std::getline(cfg, line);) lines.push_back(line);
    auto bad = [&](size_t n, const std::string& what) {
        return cfgPath + ": line " + std::to_string(n + 1) + ": " + what;
    };
    if (lines.size() < 2) return cfgPath + ": too short for a configuration file";
    std::vector<std::string> f = Fields(lines[0]);
    out.station = f.size() > 0 ? f[0] : "";
    out.device = f.size() > 1 ? f[1] : "";
    f = Fields(lines[1]);
    if (f.size() < 3) return bad(1, "expected the channel counts, like 18,16A,2D");
    const int analog = std::atoi(f[1].c_str());
    const int digital = std::atoi(f[2].c_str());
    if (analog < 0 || digital < 0 || analog > 999 || digital > 999) return bad(1, "channel counts out of range");
    size_t n = 2;
    for (int i = 0; i < analog; ++i, ++n) {
        if (n >= lines.size()) return bad(n, "missing analog channel line");
        f = Fields(lines[n]);
        if (f.size() < 7) return bad(n, "an analog channel line has 10 fields");
        AnalogChannel c;
        c.id = f[1];
        c.phase = f[2];
        c.circuit = f[3];
        c.unit = f[4];
        if (!ToNumber(f[5], c.a)) c.a = 1.0;   // a channel file without factors: raw counts
        if (!ToNumber(f[6], c.b)) c.b = 0.0;
        out.analog.push_back(c);
    }
    for (int i = 0; i < digital; ++i, ++n) {
        if (n >= lines.size()) return bad(n, "missing digital channel line");
        f = Fields(lines[n]);
        out.digital.push_back(f.size() > 1 ? f[1] : "");
    }
    if (n + 4 >= lines.size()) return bad(n, "missing frequency, rates or times");
    double v = 0;
    if (ToNumber(Fields(lines[n])[0], v)) out.lineHz = v;
    n += 2;  // frequency, number of rates
    f = Fields(lines[n]);
    if (f.size() < 2 || !ToNumber(f[0], out.sampleRate)) return bad(n, "expected the sampling rate and last sample");
    out.lastSample = std::atol(f[1].c_str());
    std::string start = lines[n + 1], trigger = lines[n + 2];
    while (!start.empty() && start.back() == '\r') start.pop_back();
    while (!trigger.empty() && trigger.back() == '\r') trigger.pop_back();
    out.startTime = start;
    out.triggerTime = trigger;

    const std::string datPath = DataPath(cfgPath);
    std::ifstream dat(datPath, std::ios::binary);
    if (!dat) return "can't read the data file " + datPath;
    size_t lineNo = 0;
    for (std::string line; std::getline(dat, line);) {
        ++lineNo;
        f = Fields(line);
        if (f.empty() || (f.size() == 1 && f[0].empty())) continue;
        if (f.size() < static_cast<size_t>(2 + analog + digital)) {
            return datPath + ": line " + std::to_string(lineNo) + ": expected " + std::to_string(2 + analog + digital) +
                   " fields";
        }
        ComtradeSample s;
        s.number = std::atol(f[0].c_str());
        s.timeUs = std::atof(f[1].c_str());
        for (int j = 0; j < analog; ++j) {
            const AnalogChannel& c = out.analog[static_cast<size_t>(j)];
            s.analog.push_back(c.a * std::atof(f[2 + static_cast<size_t>(j)].c_str()) + c.b);
        }
        for (int j = 0; j < digital; ++j) s.digital.push_back(std::atol(f[2 + static_cast<size_t>(analog + j)].c_str()));
        out.samples.push_back(s);
    }
    if (out.samples.empty()) return datPath + ": no samples";
    return {};
}

}  // namespace vorlan_host
