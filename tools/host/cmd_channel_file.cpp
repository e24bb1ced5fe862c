// channel-file: writes a template of the channel configuration file the
// driver reads when it writes a recording, or checks the file in place.
// The driver reads the file as bare white-space separated tokens and knows
// no comments, so the explanation is printed, not written into the file.

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "commands.h"
#include "gbk_text.h"
#include "output.h"
#include "recording_place.h"

namespace vorlan_host {

namespace {

const char kExplanation[] =
    "The channel configuration file holds what the relay protocol does not carry: the station name and the\n"
    "definitions of the recording's channels. The driver copies its tokens into every recording's .CFG file.\n"
    "It is GBK text read as tokens separated by blanks, tabs or line ends (line breaks mean nothing, and a\n"
    "token can't contain a blank or be longer than 64 bytes), in this order:\n"
    "  1 token       the station name (first field of the .CFG file)\n"
    "  16 rows of 10 the analog channels: index, identifier, phase, circuit, unit, multiplier a,\n"
    "                offset b, skew, minimum, maximum (value = a * sample + b)\n"
    "  2 rows of 3   the digital channels: index, identifier, normal state\n"
    "Keep all 167 tokens: a missing one shifts every token after it. The file has no comments: anything\n"
    "after the 167th token is ignored. Edit it with an editor that keeps GBK, or write it as UTF-8 and\n"
    "convert it: iconv -f UTF-8 -t GBK mine.txt > 通道配置文件.txt\n";

std::string TemplateText() {
    const char* const analog[16][5] = {
        {"Ia", "A", "线路1", "A", "0.01"},     {"Ib", "B", "线路1", "A", "0.01"},
        {"Ic", "C", "线路1", "A", "0.01"},     {"3I0", "N", "线路1", "A", "0.01"},
        {"Ua", "A", "母线", "kV", "0.0006"},   {"Ub", "B", "母线", "kV", "0.0006"},
        {"Uc", "C", "母线", "kV", "0.0006"},   {"3U0", "N", "母线", "kV", "0.0006"},
        {"备用9", "N", "备用", "A", "0.01"},   {"备用10", "N", "备用", "A", "0.01"},
        {"备用11", "N", "备用", "A", "0.01"},  {"备用12", "N", "备用", "A", "0.01"},
        {"备用13", "N", "备用", "A", "0.01"},  {"备用14", "N", "备用", "A", "0.01"},
        {"备用15", "N", "备用", "A", "0.01"},  {"备用16", "N", "备用", "A", "0.01"},
    };
    std::ostringstream t;
    t << "变电站名称\n";
    for (int i = 0; i < 16; ++i) {
        t << i + 1 << "  " << analog[i][0] << "  " << analog[i][1] << "  " << analog[i][2] << "  " << analog[i][3]
          << "  " << analog[i][4] << "  0  0  -32767  32767\n";
    }
    t << "1  保护动作  0\n2  故障相别  0\n";
    return Utf8ToGbk(t.str());
}

Status MakeDirectories(const std::string& dir) {
    for (size_t at = 1; at <= dir.size(); ++at) {
        if (at < dir.size() && dir[at] != '/') continue;
        const std::string part = dir.substr(0, at);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            return {kExitFile, "can't create the directory " + part + ": " + std::strerror(errno)};
        }
    }
    return Status::Ok();
}

int Init(const CommonOptions& common, const ChannelFileOptions& o) {
    std::string dir = o.initDir;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (Status s = MakeDirectories(dir); !s.ok()) return Fail(s);
    const std::string file = dir + "/" + kChannelFileName;
    struct stat st {};
    if (!o.force && stat(file.c_str(), &st) == 0) {
        return Fail({kExitFile, file + " exists already; --force replaces it"});
    }
    const std::string text = TemplateText();
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) return Fail({kExitFile, "can't write " + file + ": " + std::strerror(errno)});
    if (common.json) {
        EmitJson("channel-file", {{"path", file}, {"tokens", CountTokens(text)}, {"written", true}});
    } else {
        std::printf("wrote a template to %s (GBK, %zu tokens); fill it in.\n\n%s", file.c_str(), CountTokens(text),
                    kExplanation);
    }
    return kExitOk;
}

// The file as far as the driver reads it (checked readable just before).
std::string ReadFileBytes(const std::string& path) {
    constexpr size_t kMaxBytes = 1 << 20;
    std::ifstream in(path, std::ios::binary);
    std::string bytes(kMaxBytes, '\0');
    in.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<size_t>(in.gcount()));
    return bytes;
}

int Check(const CommonOptions& common, const ChannelFileOptions& o) {
    std::string dir = o.checkDir;
    if (dir.empty() || dir.back() != '/') dir += '/';
    size_t tokens = 0;
    if (Status s = CheckRecordingPlace(dir, &tokens); !s.ok()) return Fail(s);
    const std::string file = dir + kChannelFileName;
    // A missing or extra token shifts every later row: the recordings would
    // name and scale their channels wrongly, so such a file fails the check.
    if (std::string problem = ChannelFileProblem(ReadFileBytes(file)); !problem.empty()) {
        return Fail({kExitFile, file + ": " + problem});
    }
    std::string note;
    if (tokens > kChannelFileTokens) {
        note = std::to_string(tokens - kChannelFileTokens) + " tokens after the " +
               std::to_string(kChannelFileTokens) + "th are ignored";
    }
    if (common.json) {
        EmitJson("channel-file", {{"path", file}, {"tokens", tokens}, {"ok", true}, {"note", note}});
    } else {
        std::printf("%s: GBK text, %zu tokens; the directory is writable%s%s\n", file.c_str(), tokens,
                    note.empty() ? "" : "; ", note.c_str());
    }
    return kExitOk;
}

}  // namespace

int RunChannelFile(const CommonOptions& common, const ChannelFileOptions& o) {
    if (o.initDir.empty() == o.checkDir.empty()) {
        return Fail({kExitUsage, "say --init DIR to write a template or --check DIR to check a file"});
    }
    return o.initDir.empty() ? Check(common, o) : Init(common, o);
}

}  // namespace vorlan_host
