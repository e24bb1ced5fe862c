// SPDX-License-Identifier: Apache-2.0
#include "answer_builder.h"

#include <algorithm>

#include "protocol/codecs.h"
#include "model/commands.h"
#include "model/frame.h"

namespace vorlan_sim {

namespace {

using vorlan::Answer;
using vorlan::Code;
using vorlan::Request;

constexpr uint8_t kRefused = 0x55;          // 0xCA result byte: nothing carried out

constexpr size_t kMaxTriples = (vorlan::kMaxFrameData - 1) / 3;        // 84 per 0x06 answer
constexpr size_t kMaxChangeGroups = (vorlan::kMaxFrameData - 11) / 3;  // 81 per 0xB1 answer
constexpr size_t kSamplesPerBlock = 5;

}  // namespace

std::vector<uint8_t> BuildFrame(uint8_t address, uint8_t command, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> frame(vorlan::kMaxFrame);
    vorlan::ByteWriter w(frame.data(), frame.size());
    w.Put(address);
    w.Put(command);
    w.Put(static_cast<uint8_t>(std::min(data.size(), vorlan::kMaxFrameData)));
    w.PutBytes(data.data(), std::min(data.size(), vorlan::kMaxFrameData));
    vorlan::AppendCrc(w);
    frame.resize(w.size());
    return frame;
}

RelayLine::RelayLine(const std::vector<RelayConfig>& relays, uint64_t seed) {
    for (const RelayConfig& c : relays) relays_.push_back(std::make_unique<RelayModel>(c, seed));
}

RelayModel* RelayLine::Find(uint8_t address) {
    for (auto& r : relays_) {
        if (r->address() == address) return r.get();
    }
    return nullptr;
}

std::vector<uint8_t> RelayLine::Addresses() const {
    std::vector<uint8_t> out;
    for (const auto& r : relays_) out.push_back(r->address());
    return out;
}

std::vector<uint8_t> RelayLine::HandleRequest(vorlan::ByteView request) {
    if (!vorlan::CheckFrame(request)) return {};
    const uint8_t address = request.at(0);
    if (address == vorlan::kBroadcastAddress) {
        // The signal reset: every relay clears its pending reports, none answers.
        if (request.at(1) == Code(Request::Reset)) {
            ++counts_.broadcasts;
            for (auto& r : relays_) {
                while (r->HasReport()) r->TakeReport();
            }
        }
        return {};
    }
    RelayModel* relay = Find(address);
    if (!relay) return {};
    ++counts_.requests;
    ++relay->traffic().requests;
    if (relay->Silent()) return {};
    std::vector<uint8_t> answer = Answer(*relay, request.Sub(0, request.at(2) + vorlan::kFrameOverhead));
    if (!answer.empty()) {
        ++counts_.answers;
        ++relay->traffic().answers;
    }
    return answer;
}

std::vector<uint8_t> RelayLine::Poll(RelayModel& r, bool followUp) {
    const uint8_t a = r.address();
    if (!followUp) {
        r.Advance();
        if (r.random().Chance(r.config().busyRate)) {
            return BuildFrame(a, r.random().Chance(0.5) ? Code(Answer::Accepted) : Code(Answer::FollowUp), {});
        }
    }
    if (r.HasReport()) {
        // One report per answer: its time stamp and the groups that changed then.
        const StatusReport report = r.TakeReport();
        std::vector<uint8_t> data(11, 0);
        vorlan::ByteWriter stamp(data.data() + 1, vorlan::kTimeStampSize);
        vorlan::WriteTimeStamp(stamp, report.time);
        for (size_t i = 0; i < report.groups.size() && i < kMaxChangeGroups; ++i) {
            data.insert(data.end(), report.groups[i].begin(), report.groups[i].end());
        }
        return BuildFrame(a, Code(Answer::StatusChanges), data);
    }
    if (followUp) return BuildFrame(a, Code(Answer::Nothing), {});
    std::vector<uint8_t> data;
    switch (r.NextPollKind()) {
        case RelayModel::PollKind::Measurements: {
            data.push_back(1);
            const int n = std::min<int>(r.config().measurements, static_cast<int>(kMaxTriples));
            for (int k = 0; k < n; ++k) {
                uint8_t lo = 0, hi = 0;
                vorlan::EncodeMeasurement(r.Measurement(k), lo, hi);
                data.insert(data.end(), {static_cast<uint8_t>(k), lo, hi});
            }
            break;
        }
        case RelayModel::PollKind::Inputs:
            data.push_back(2);
            for (int g = 0; g < r.config().statusGroups; ++g) {
                data.insert(data.end(), {static_cast<uint8_t>(g), 0, r.StatusGroup(g)});
            }
            break;
        case RelayModel::PollKind::Counters:
            data.push_back(3);
            for (int k = 0; k < r.config().counters; ++k) {
                const uint16_t c = r.Counter(k);
                data.insert(data.end(), {static_cast<uint8_t>(k), static_cast<uint8_t>(c),
                                         static_cast<uint8_t>(c >> 8)});
            }
            break;
        case RelayModel::PollKind::Nothing:
            return BuildFrame(a, Code(Answer::Nothing), {});
    }
    return BuildFrame(a, Code(Answer::Data), data);
}

std::vector<uint8_t> RelayLine::Answer(RelayModel& r, vorlan::ByteView request) {
    const uint8_t a = r.address();
    const uint8_t n = request.at(2);
    const vorlan::ByteView data = request.Sub(vorlan::kFrameHeader, n);
    switch (static_cast<Request>(request.at(1))) {
        case Request::GeneralPoll:
            return Poll(r, false);
        case Request::FollowUpPoll:
            return Poll(r, true);
        case Request::TimeSync: {
            vorlan::SystemTime t;
            if (vorlan::ReadTimeStamp(data, 0, t)) {
                r.SetClock(t);
                ++counts_.timeSyncs;
            }
            return BuildFrame(a, Code(Answer::Nothing), {});
        }
        case Request::ControlSelect: {
            const uint8_t point = data.at(1), code = data.at(2);
            if (n >= 3 && r.Select(point, code)) return BuildFrame(a, Code(Answer::ControlSelected), {0, point, code});
            return BuildFrame(a, Code(Answer::ControlResult), {0, point, kRefused});
        }
        case Request::ControlExecute: {
            const uint8_t point = data.at(1), code = data.at(2);
            if (n >= 3 && r.Execute(point, code)) {
                ++counts_.controls;
                return BuildFrame(a, Code(Answer::ControlResult), {0, point, code});
            }
            return BuildFrame(a, Code(Answer::ControlResult), {0, point, kRefused});
        }
        case Request::SettingRead: {
            const int zone = data.at(1);
            if (n < 2 || !r.settings().HasZone(zone)) return BuildFrame(a, Code(Answer::Nothing), {});
            ++counts_.settingReads;
            return BuildFrame(a, r.settings().AnswerCode(), r.settings().AnswerData(zone));
        }
        case Request::ZoneSwitch:
            if (n >= 2) r.settings().SwitchZone(data.at(1));
            return BuildFrame(a, Code(Answer::Nothing), {});
        case Request::SettingWrite:
            if (r.settings().ApplyWrite(data)) {
                ++counts_.settingWrites;
                return BuildFrame(a, Code(Answer::Data), {});  // the relay confirms the write
            }
            return BuildFrame(a, Code(Answer::Nothing), {});
        case Request::SettingConfirm:
            return BuildFrame(a, Code(Answer::Nothing), {});
        case Request::RecordingList: {
            std::vector<uint8_t> list;
            for (const Recording& rec : r.recordings()) {
                uint8_t entry[20];
                WriteListEntry(rec, entry);
                list.insert(list.end(), entry, entry + 20);
            }
            return BuildFrame(a, Code(Answer::RecordingList), list);
        }
        case Request::RecordingBlock: {
            uint32_t id = 0, from = 0;
            if (!data.ReadLe(0, 4, id) || !data.ReadLe(4, 2, from)) return BuildFrame(a, Code(Answer::Nothing), {});
            const size_t wanted = std::min<size_t>(std::max<size_t>(data.at(6), 1), kSamplesPerBlock);
            const Recording* rec = r.FindRecording(id);
            if (!rec || from > rec->lastSample) return BuildFrame(a, Code(Answer::Nothing), {});
            std::vector<uint8_t> block;
            for (uint32_t s = from; s <= rec->lastSample && block.size() < wanted * kSampleBytes; ++s) {
                uint8_t sample[kSampleBytes];
                WriteSample(*rec, static_cast<uint16_t>(s), sample);
                block.insert(block.end(), sample, sample + kSampleBytes);
            }
            ++counts_.blocks;
            return BuildFrame(a, Code(Answer::RecordingBlock), block);
        }
        default:
            return {};  // a code this relay doesn't know: silence
    }
}

}  // namespace vorlan_sim
