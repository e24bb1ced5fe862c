#include "comtrade_io.h"

#include <cstdio>

namespace vorlan_host {

namespace {

comtrade::ReadOptions Options(const ComtradeReadOptions& read) {
    comtrade::ReadOptions options;
    options.encoding = read.encoding;
    options.strict = read.strict;
    return options;
}

void Warn(const comtrade::Recording& r) {
    for (const auto& w : r.warnings) std::fprintf(stderr, "warning: %s\n", w.c_str());
}

}  // namespace

Status ReadWhole(const std::string& path, const ComtradeReadOptions& read, comtrade::Recording& r) {
    if (std::string e = comtrade::ReadRecording(path, Options(read), r); !e.empty()) return {kExitFile, e};
    Warn(r);
    return Status::Ok();
}

Status ReadStreamed(const std::string& path, const ComtradeReadOptions& read, comtrade::Recording& r,
                    const comtrade::BlockSink& sink, bool warnOnStderr) {
    if (std::string e = comtrade::StreamRecording(path, Options(read), r, sink); !e.empty()) return {kExitFile, e};
    if (warnOnStderr) Warn(r);
    return Status::Ok();
}

}  // namespace vorlan_host
