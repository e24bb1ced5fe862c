#include "analysis.h"

#include <algorithm>
#include <cctype>

namespace comtrade {

namespace {

using Complex = std::complex<double>;

constexpr double kPi = 3.14159265358979323846;
// Window lengths beyond this many samples per cycle are not analysed.
constexpr size_t kMaxWindow = size_t{1} << 18;
// Times closer than this count as the same instant.
constexpr double kSameTime = 1e-9;

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

double Degrees(double radians) {
    double d = radians * 180 / kPi;
    while (d <= -180) d += 360;
    while (d > 180) d -= 360;
    return d;
}

Phasor ToPhasor(Complex x, double referenceAngle) {
    if (std::isnan(x.real())) return {};
    return {std::abs(x), std::abs(x) > 0 ? Degrees(std::arg(x) - referenceAngle) : 0.0};
}

long FindChannel(const Recording& r, const std::string& name) {
    for (size_t j = 0; j < r.analog.size(); ++j) {
        if (r.analog[j].name == name) return static_cast<long>(j);
    }
    return -1;
}

int PhaseOf(const std::string& phase) {
    const std::string p = Upper(phase);
    if (p == "A" || p == "L1") return 0;
    if (p == "B" || p == "L2") return 1;
    if (p == "C" || p == "L3") return 2;
    return -1;
}

// The last samples of every analog channel, with their times: enough for
// the longest one-cycle window.
class Ring {
public:
    Ring(size_t channels, size_t capacity) : cap_(capacity), t_(capacity), v_(channels, std::vector<double>(capacity)) {}
    void Push(double t, const SampleBlock& b, size_t i) {
        const size_t at = n_ % cap_;
        t_[at] = t;
        for (size_t j = 0; j < v_.size(); ++j) v_[j][at] = b.values[j][i];
        ++n_;
    }
    size_t Count() const { return n_; }
    size_t Capacity() const { return cap_; }
    // Sample `back` places before the newest (0: the newest).
    double Time(size_t back) const { return t_[(n_ - 1 - back) % cap_]; }
    double Value(size_t j, size_t back) const { return v_[j][(n_ - 1 - back) % cap_]; }

private:
    size_t cap_, n_ = 0;
    std::vector<double> t_;
    std::vector<std::vector<double>> v_;
};

}  // namespace

struct Analyser::State {
    const Recording& header;
    AnalysisOptions options;
    Analysis result;
    double trigger = 0, period = 0;
    double nextRow = NAN;            // window end of the next series row
    bool atDone = false;
    Ring ring;
    std::vector<int32_t> lastState, seenOr;
    std::vector<bool> seenNegative;
    std::vector<std::vector<DigitalResult>> bits;  // [status channel][bit]
    std::vector<DigitalResult> whole;               // [status channel]
    bool anySample = false;

    State(const Recording& h, const AnalysisOptions& o, double hz, size_t capacity)
        : header(h), options(o), trigger(h.TriggerSeconds()), period(1 / hz), ring(h.analog.size(), capacity) {}

    // Samples in the one-cycle window ending at the newest sample; 0 when
    // there are not enough of them yet.
    size_t WindowSamples() const {
        if (ring.Count() < 2) return 0;
        const double dt = ring.Time(0) - ring.Time(1);
        if (!(dt > 0)) return 0;
        const double n = std::round(period / dt);
        if (n < 4 || n >= static_cast<double>(ring.Capacity()) || n > static_cast<double>(ring.Count())) return 0;
        return static_cast<size_t>(n);
    }

    // The order-h component of channel j over the last n samples (complex RMS).
    Complex Dft(size_t j, size_t n, int h, const std::vector<Complex>& turns) const {
        Complex sum = 0;
        for (size_t k = 0; k < n; ++k) {
            const double x = ring.Value(j, k);
            if (std::isnan(x)) return {NAN, NAN};
            sum += x * (h == 1 ? turns[k] : std::pow(turns[k], h));
        }
        return sum * (std::sqrt(2.0) / static_cast<double>(n));
    }

    double Rms(size_t j, size_t n) const {
        double sum = 0;
        for (size_t k = 0; k < n; ++k) {
            const double x = ring.Value(j, k);
            sum += x * x;
        }
        return std::sqrt(sum / static_cast<double>(n));  // NaN when a value is missing
    }

    std::vector<Complex> Turns(size_t n) const {
        std::vector<Complex> turns(n);
        const double w = 2 * kPi / period;
        for (size_t k = 0; k < n; ++k) turns[k] = std::polar(1.0, -w * (ring.Time(k) - trigger));
        return turns;
    }

    void SeriesRow(double end);
    void AtResult();
    void Digital(const SampleBlock& b, size_t i, double t);
    void Note(DigitalResult& d, double t, int32_t v) const {
        if (d.changes.size() < options.maxChanges) d.changes.push_back({t, v});
        else ++d.more;
    }
};

void Analyser::State::SeriesRow(double end) {
    Series& s = result.series;
    s.seconds.push_back(end - trigger);
    const size_t n = WindowSamples();
    std::vector<Complex> turns = n > 0 ? Turns(n) : std::vector<Complex>();
    std::vector<Complex> phasors(header.analog.size(), Complex(NAN, NAN));
    for (size_t j = 0; j < phasors.size() && n > 0; ++j) phasors[j] = Dft(j, n, 1, turns);
    const double ref = phasors.empty() ? 0 : std::arg(phasors[result.reference]);
    for (size_t j = 0; j < phasors.size(); ++j) {
        const Phasor p = ToPhasor(phasors[j], ref);
        s.rms[j].push_back(n > 0 ? Rms(j, n) : NAN);
        s.magnitude[j].push_back(p.magnitude);
        s.degrees[j].push_back(p.degrees);
    }
}

void Analyser::State::AtResult() {
    atDone = true;
    const size_t n = WindowSamples();
    if (n == 0 || header.analog.empty()) return;
    result.windowEnd = ring.Time(0) - trigger;
    const std::vector<Complex> turns = Turns(n);
    std::vector<Complex> phasors(header.analog.size());
    for (size_t j = 0; j < phasors.size(); ++j) phasors[j] = Dft(j, n, 1, turns);
    const double ref = std::arg(phasors[result.reference]);
    for (size_t j = 0; j < phasors.size(); ++j) {
        ChannelResult& c = result.channels[j];
        c.rms = Rms(j, n);
        c.fundamental = ToPhasor(phasors[j], ref);
        double sum = 0;
        for (int h = kFirstHarmonic; h <= kLastHarmonic; ++h) {
            const double m = 2 * static_cast<size_t>(h) < n ? std::abs(Dft(j, n, h, turns)) : NAN;
            c.harmonics.push_back(m);
            if (!std::isnan(m)) sum += m * m;
        }
        if (c.fundamental.magnitude > 0) c.thd = std::sqrt(sum) / c.fundamental.magnitude;
    }
    for (SetResult& set : result.sets) {
        Complex seq[3];
        Sequences(phasors[set.channels[0]], phasors[set.channels[1]], phasors[set.channels[2]], seq);
        set.zero = ToPhasor(seq[0], ref);
        set.positive = ToPhasor(seq[1], ref);
        set.negative = ToPhasor(seq[2], ref);
    }
}

void Analyser::State::Digital(const SampleBlock& b, size_t i, double t) {
    for (size_t j = 0; j < b.states.size(); ++j) {
        const int32_t v = b.states[j][i];
        seenOr[j] |= v;
        if (v < 0) seenNegative[j] = true;
        if (!anySample) {
            whole[j].initial = v;
            for (int bit = 0; bit < 32; ++bit) bits[j][static_cast<size_t>(bit)].initial = (v >> bit) & 1;
        } else if (v != lastState[j]) {
            Note(whole[j], t, v);
            for (uint32_t diff = static_cast<uint32_t>(v ^ lastState[j]); diff != 0; diff &= diff - 1) {
                const int bit = __builtin_ctz(diff);
                Note(bits[j][static_cast<size_t>(bit)], t, (v >> bit) & 1);
            }
        }
        lastState[j] = v;
    }
}

std::string Analyser::Check(const Recording& header, const AnalysisOptions& options) {
    const double hz = options.hz > 0 ? options.hz : header.lineHz;
    if (!(hz > 0) || !std::isfinite(hz)) return "the recording gives no line frequency; give it with --freq";
    if (header.analog.empty() && header.status.empty()) return "the recording has no channels";
    if (!options.reference.empty() && FindChannel(header, options.reference) < 0) {
        return "no analog channel named '" + options.reference + "' for --ref";
    }
    for (const auto& set : options.sets) {
        if (set.size() != 3) return "a three-phase set names three channels (A,B,C), found " + std::to_string(set.size());
        for (const auto& name : set) {
            if (FindChannel(header, name) < 0) return "no analog channel named '" + name + "' for --set";
        }
    }
    return {};
}

Analyser::Analyser(const Recording& header, const AnalysisOptions& options) {
    const double hz = options.hz > 0 ? options.hz : header.lineHz;
    // The ring holds one cycle at the fastest rate (or a generous one for time stamps).
    double fastest = 0;
    for (const Rate& rate : header.rates) fastest = std::max(fastest, rate.hz);
    const double perCycle = header.TimesFromRates() ? fastest / hz + 2 : static_cast<double>(kMaxWindow);
    const size_t capacity = static_cast<size_t>(std::clamp(perCycle, 8.0, static_cast<double>(kMaxWindow)));
    s_ = std::make_unique<State>(header, options, hz, capacity);
    State& s = *s_;
    Analysis& a = s.result;
    a.hz = hz;
    a.hzFromFile = !(options.hz > 0);
    a.at = options.atGiven ? options.at : s.period;
    a.reference = options.reference.empty() ? 0 : static_cast<size_t>(FindChannel(header, options.reference));
    a.channels.resize(header.analog.size());
    std::vector<std::vector<size_t>> sets;
    for (const auto& names : options.sets) {
        std::vector<size_t> set;
        for (const auto& name : names) set.push_back(static_cast<size_t>(FindChannel(header, name)));
        sets.push_back(set);
    }
    if (options.sets.empty()) sets = FindSets(header);
    for (const auto& set : sets) a.sets.push_back(SetResult{set, {}, {}, {}});
    const size_t k = header.analog.size(), m = header.status.size();
    a.series.rms.resize(k);
    a.series.magnitude.resize(k);
    a.series.degrees.resize(k);
    s.lastState.assign(m, 0);
    s.seenOr.assign(m, 0);
    s.seenNegative.assign(m, false);
    s.whole.resize(m);
    s.bits.assign(m, std::vector<DigitalResult>(32));
}

Analyser::~Analyser() = default;

void Analyser::Add(const SampleBlock& b) {
    State& s = *s_;
    for (size_t i = 0; i < b.Size(); ++i) {
        const double t = b.seconds[i];
        if (std::isnan(s.nextRow)) s.nextRow = s.trigger + std::ceil((t - s.trigger) / s.period) * s.period;
        // The sample past a window's end closes the window at the one before
        // it; the next window ends at the first whole cycle not before this
        // sample (in a gap between samples, a window would only repeat).
        if (s.anySample && t > s.nextRow + kSameTime) {
            if (s.ring.Time(0) > s.nextRow - s.period) s.SeriesRow(s.nextRow);
            const double cycles = std::ceil((t - kSameTime - s.trigger) / s.period);
            s.nextRow = std::max(s.nextRow + s.period, s.trigger + cycles * s.period);
        }
        if (!s.atDone && s.anySample && t > s.trigger + s.result.at + kSameTime) s.AtResult();
        s.ring.Push(t, b, i);
        s.Digital(b, i, t - s.trigger);
        s.anySample = true;
    }
}

Analysis Analyser::Finish() {
    State& s = *s_;
    if (s.anySample) {
        const double last = s.ring.Time(0);
        if (last >= s.nextRow - kSameTime) s.SeriesRow(s.nextRow);
        if (!s.atDone && last >= s.trigger + s.result.at - kSameTime) s.AtResult();
    }
    for (size_t j = 0; j < s.header.status.size(); ++j) {
        const StatusChannel& c = s.header.status[j];
        const std::string name = c.name.empty() ? "D" + std::to_string(c.index) : c.name;
        // A channel holding more than 0 and 1 is a status word: one entry per bit that changed.
        if (s.seenNegative[j] || (s.seenOr[j] & ~1) != 0) {
            for (size_t bit = 0; bit < 32; ++bit) {
                DigitalResult& d = s.bits[j][bit];
                if (d.changes.empty()) continue;
                d.name = name + ".bit" + std::to_string(bit);
                s.result.digital.push_back(std::move(d));
            }
        } else {
            s.whole[j].name = name;
            s.result.digital.push_back(std::move(s.whole[j]));
        }
    }
    return std::move(s.result);
}

std::vector<std::vector<size_t>> FindSets(const Recording& header) {
    std::vector<std::vector<size_t>> sets;
    std::vector<bool> used(header.analog.size(), false);
    for (size_t j = 0; j < header.analog.size(); ++j) {
        const AnalogChannel& c = header.analog[j];
        if (used[j] || PhaseOf(c.phase) != 0) continue;
        std::vector<long> set = {static_cast<long>(j), -1, -1};
        for (size_t k = 0; k < header.analog.size(); ++k) {
            const AnalogChannel& o = header.analog[k];
            const int phase = PhaseOf(o.phase);
            if (used[k] || phase <= 0 || o.circuit != c.circuit || o.unit != c.unit) continue;
            if (set[static_cast<size_t>(phase)] < 0) set[static_cast<size_t>(phase)] = static_cast<long>(k);
        }
        if (set[1] < 0 || set[2] < 0) continue;
        std::vector<size_t> found;
        for (long index : set) {
            used[static_cast<size_t>(index)] = true;
            found.push_back(static_cast<size_t>(index));
        }
        sets.push_back(found);
    }
    return sets;
}

void Sequences(Complex a, Complex b, Complex c, Complex out[3]) {
    const Complex op = std::polar(1.0, 2 * kPi / 3);  // the 120-degree operator
    out[0] = (a + b + c) / 3.0;
    out[1] = (a + op * b + op * op * c) / 3.0;
    out[2] = (a + op * op * b + op * c) / 3.0;
}

std::vector<double> RunningRms(const Recording& r, size_t j, double hz) {
    const std::vector<double>& x = r.values[j];
    std::vector<double> rms(x.size(), NAN);
    std::vector<double> squares(x.size() + 1, 0);
    std::vector<size_t> gaps(x.size() + 1, 0);
    for (size_t i = 0; i < x.size(); ++i) {
        const bool gap = std::isnan(x[i]);
        squares[i + 1] = squares[i] + (gap ? 0 : x[i] * x[i]);
        gaps[i + 1] = gaps[i] + (gap ? 1 : 0);
    }
    for (size_t i = 1; i < x.size(); ++i) {
        const double dt = r.seconds[i] - r.seconds[i - 1];
        if (!(dt > 0)) continue;
        const double n = std::round(1 / (hz * dt));
        if (n < 2 || n > static_cast<double>(i + 1)) continue;
        const size_t from = i + 1 - static_cast<size_t>(n);
        if (gaps[i + 1] != gaps[from]) continue;
        rms[i] = std::sqrt(std::max(0.0, squares[i + 1] - squares[from]) / n);
    }
    return rms;
}

}  // namespace comtrade
