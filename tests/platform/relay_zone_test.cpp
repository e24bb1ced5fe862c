// The relays' zone: fixed offsets and zone names as written in the line
// settings, named zones against the C library's own reading of the same
// zone files (the test sets TZ only to ask the library; the zone itself never
// reads it), the rule for skipped and repeated times, and zone files that
// are cut short, corrupted or not files at all.

#include "platform/relay_zone.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using vorlan::RelayZone;
using vorlan::SystemTime;

constexpr int64_t kHour = 3600;

uint64_t FileTime(int64_t utc, int32_t ms = 0) {
    return static_cast<uint64_t>(utc + static_cast<int64_t>(vorlan::kFileTimeUnixEpochSeconds)) *
               vorlan::kFileTimeTicksPerSecond +
           static_cast<uint64_t>(ms) * 10'000u;
}

int64_t Utc(int32_t y, int32_t mo, int32_t d, int32_t h, int32_t mi, int32_t s) {
    return vorlan::FieldSeconds(y, mo, d, h, mi, s);
}

RelayZone Zone(const std::string& text) {
    RelayZone z;
    std::string why;
    EXPECT_TRUE(RelayZone::FromText(text, z, why)) << text << ": " << why;
    return z;
}

// Runs with TZ set for the C library's answers, restored after.
class WithHostZone {
public:
    explicit WithHostZone(const char* zone) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~WithHostZone() {
        if (had_) setenv("TZ", old_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

// Every `step` seconds from `from` to `to` (UTC), the zone's fields must be
// localtime_r's in TZ=`libraryZone`, and its reading back of those fields
// must name an instant with the same fields no later than the one read.
void CompareWithLibrary(const RelayZone& zone, const char* libraryZone, int64_t from, int64_t to, int64_t step) {
    WithHostZone host(libraryZone);
    for (int64_t u = from; u <= to; u += step) {
        const time_t at = static_cast<time_t>(u);
        tm lib{};
        ASSERT_NE(localtime_r(&at, &lib), nullptr);
        const SystemTime f = zone.FieldsAt(FileTime(u, 125));
        ASSERT_TRUE(f.year == lib.tm_year + 1900 && f.month == lib.tm_mon + 1 && f.day == lib.tm_mday &&
                    f.hour == lib.tm_hour && f.minute == lib.tm_min && f.second == lib.tm_sec &&
                    f.dayOfWeek == lib.tm_wday && f.milliseconds == 125)
            << libraryZone << " at " << u << ": " << f.year << "-" << f.month << "-" << f.day << " " << f.hour
            << ":" << f.minute << ":" << f.second << " against the library's " << lib.tm_hour << ":" << lib.tm_min;
        const int64_t local = zone.ZoneSeconds(u);
        const int64_t back = zone.UtcSeconds(local);
        ASSERT_EQ(zone.ZoneSeconds(back), local) << libraryZone << " at " << u;
        ASSERT_LE(back, u) << libraryZone << " at " << u;
    }
}

TEST(RelayZone, FixedOffsetsAsWrittenAndTheDefault) {
    EXPECT_EQ(RelayZone().OffsetAt(0), 8 * kHour);
    for (const auto& [text, offset] : std::vector<std::pair<std::string, int64_t>>{
             {"+08:00", 8 * kHour}, {"-05:30", -(5 * kHour + 1800)}, {"+0545", 5 * kHour + 2700},
             {"+8", 8 * kHour}, {"-00:00", 0}, {"+23:59", 23 * kHour + 59 * 60}}) {
        const RelayZone z = Zone(text);
        EXPECT_TRUE(z.IsFixed()) << text;
        EXPECT_EQ(z.OffsetAt(Utc(2004, 3, 28, 1, 0, 0)), offset) << text;
    }
    for (const std::string& bad : std::vector<std::string>{"", "+", "08:00", "+24:00", "+8:00", "+08:60", "+08:0", "+080", "+08:00:00",
                                  "8", "+ 8", "+08 :00"}) {
        RelayZone z = RelayZone::Fixed(3600);
        std::string why;
        EXPECT_FALSE(RelayZone::FromText(bad, z, why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
        EXPECT_EQ(z.OffsetAt(0), 3600) << bad;  // left alone
    }
}

TEST(RelayZone, TimeSyncFieldsOfTheDefaultZoneAreShanghaiLocalTime) {
    // What the driver wrote when it took the host's local time, on a host in
    // Shanghai: the default zone gives the same fields from 1992 (the end of
    // its daylight-saving years) on.
    CompareWithLibrary(RelayZone(), "Asia/Shanghai", Utc(1992, 1, 1, 0, 0, 0), Utc(2100, 1, 1, 0, 0, 0),
                       86400 + 3607);
}

TEST(RelayZone, NamedZonesReadAsTheLibraryReadsThem) {
    const int64_t from = Utc(1970, 1, 1, 0, 0, 0);
    const int64_t to = Utc(2150, 1, 1, 0, 0, 0);  // far past the tables: the rules for later years
    for (const char* name : {"Europe/Berlin", "America/New_York", "Australia/Sydney", "Asia/Shanghai",
                             "America/Sao_Paulo", "Asia/Jerusalem", "America/Nuuk", "Africa/Casablanca",
                             "Antarctica/Troll", "Pacific/Apia", "UTC"}) {
        CompareWithLibrary(Zone(name), name, from, to, 3 * 86400 + 7);
    }
    // Every two minutes or so through a year of changes, here and after the tables.
    CompareWithLibrary(Zone("Europe/Berlin"), "Europe/Berlin", Utc(2004, 1, 1, 0, 0, 0), Utc(2005, 1, 1, 0, 0, 0), 127);
    CompareWithLibrary(Zone("Australia/Sydney"), "Australia/Sydney", Utc(2140, 1, 1, 0, 0, 0),
                       Utc(2141, 1, 1, 0, 0, 0), 127);
}

TEST(RelayZone, SkippedTimesTakeTheLaterOffsetRepeatedTimesTheEarlier) {
    const RelayZone berlin = Zone("Europe/Berlin");
    const auto utcOf = [&](int32_t y, int32_t mo, int32_t d, int32_t h, int32_t mi) {
        return berlin.UtcSeconds(vorlan::FieldSeconds(y, mo, d, h, mi, 0));
    };
    // 28 March 2004: 02:00 became 03:00. 02:30 never showed; it takes summer time.
    EXPECT_EQ(utcOf(2004, 3, 28, 1, 59), Utc(2004, 3, 28, 0, 59, 0));
    EXPECT_EQ(utcOf(2004, 3, 28, 2, 30), Utc(2004, 3, 28, 0, 30, 0));
    EXPECT_EQ(utcOf(2004, 3, 28, 3, 0), Utc(2004, 3, 28, 1, 0, 0));
    // 31 October 2004: 03:00 became 02:00. 02:30 showed twice; the first pass (summer time) is taken.
    EXPECT_EQ(utcOf(2004, 10, 31, 1, 59), Utc(2004, 10, 30, 23, 59, 0));
    EXPECT_EQ(utcOf(2004, 10, 31, 2, 30), Utc(2004, 10, 31, 0, 30, 0));
    EXPECT_EQ(utcOf(2004, 10, 31, 3, 0), Utc(2004, 10, 31, 2, 0, 0));
    // The same from the rule for later years, and south of the equator.
    EXPECT_EQ(utcOf(2150, 3, 29, 2, 30), Utc(2150, 3, 29, 0, 30, 0));
    EXPECT_EQ(utcOf(2150, 10, 25, 2, 30), Utc(2150, 10, 25, 0, 30, 0));
    const RelayZone sydney = Zone("Australia/Sydney");
    // 5 October 2025: 02:00 became 03:00 (+10 to +11); 6 April 2025: 03:00 became 02:00.
    EXPECT_EQ(sydney.UtcSeconds(vorlan::FieldSeconds(2025, 10, 5, 2, 30, 0)), Utc(2025, 10, 4, 15, 30, 0));
    EXPECT_EQ(sydney.UtcSeconds(vorlan::FieldSeconds(2025, 4, 6, 2, 30, 0)), Utc(2025, 4, 5, 15, 30, 0));
}

TEST(RelayZone, FileTimesOfRelayFields) {
    const RelayZone z;
    uint64_t ft = 0;
    // Milliseconds kept; fields past their ranges count on.
    ASSERT_TRUE(z.FileTimeOf(SystemTime{2004, 3, 6, 1, 0, 30, 0, 250}, ft));
    EXPECT_EQ(ft, FileTime(Utc(2004, 2, 29, 16, 30, 0), 250));
    ASSERT_TRUE(z.FileTimeOf(SystemTime{2004, 4, 0, 31, 8, 0, 0, 0}, ft));
    EXPECT_EQ(ft, FileTime(Utc(2004, 5, 1, 0, 0, 0)));
    ASSERT_TRUE(z.FileTimeOf(SystemTime{2004, 13, 0, 1, 8, 0, 0, 0}, ft));
    EXPECT_EQ(ft, FileTime(Utc(2005, 1, 1, 0, 0, 0)));
    ASSERT_TRUE(z.FileTimeOf(SystemTime{2004, 0, 0, 1, 8, 0, 0, 0}, ft));
    EXPECT_EQ(ft, FileTime(Utc(2003, 12, 1, 0, 0, 0)));
    ASSERT_TRUE(z.FileTimeOf(SystemTime{1970, 1, 0, 1, 8, 0, 0, 0}, ft));
    EXPECT_EQ(ft, FileTime(0));
    // Before 1970 in UTC, an unset clock, milliseconds out of range, past FILETIME's calendar.
    for (const SystemTime& t : {SystemTime{1970, 1, 0, 1, 7, 59, 59, 0}, SystemTime{1969, 12, 0, 31, 23, 0, 0, 0},
                                SystemTime{0, 0, 0, 0, 0, 0, 0, 0}, SystemTime{2004, 1, 0, 1, 0, 0, 0, 1000},
                                SystemTime{2004, 1, 0, 1, 0, 0, 0, -1}, SystemTime{30828, 1, 0, 1, 0, 0, 0, 0},
                                SystemTime{30827, 12, 0, 31, 23, 59, 59, 999}}) {
        const bool fits = t.year == 30827;
        EXPECT_EQ(z.FileTimeOf(t, ft), fits) << t.year << "-" << t.month;
    }
}

// ---- Zone files as untrusted input.

std::vector<uint8_t> SystemZoneFile(const std::string& name) {
    std::ifstream in(vorlan::ZoneDirectory() + "/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PutBe(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A version 2 file: an empty first block, then `changes` (UTC, offset index),
// `offsets`, and the rule for later times.
std::vector<uint8_t> MadeZoneFile(const std::vector<std::pair<int64_t, uint8_t>>& changes,
                                  const std::vector<int32_t>& offsets, const std::string& footer,
                                  uint32_t leapCount = 0) {
    std::vector<uint8_t> f;
    const auto header = [&](uint32_t times, uint32_t types, uint32_t chars, uint32_t leaps) {
        for (char c : std::string("TZif2")) f.push_back(static_cast<uint8_t>(c));
        f.insert(f.end(), 15, 0);
        for (uint32_t n : {0u, 0u, leaps, times, types, chars}) PutBe(f, n, 4);
    };
    header(0, 1, 1, 0);
    f.insert(f.end(), {0, 0, 0, 0, 0, 0, 0});  // one offset of 0 and its designation
    header(static_cast<uint32_t>(changes.size()), static_cast<uint32_t>(offsets.size()), 4, leapCount);
    for (const auto& c : changes) PutBe(f, static_cast<uint64_t>(c.first), 8);
    for (const auto& c : changes) f.push_back(c.second);
    for (int32_t o : offsets) {
        PutBe(f, static_cast<uint32_t>(o), 4);
        f.push_back(0);
        f.push_back(0);
    }
    f.insert(f.end(), {'X', 'X', 'X', 0});
    for (uint32_t i = 0; i < leapCount; ++i) {
        PutBe(f, 0, 8);
        PutBe(f, 0, 4);
    }
    f.push_back('\n');
    f.insert(f.end(), footer.begin(), footer.end());
    f.push_back('\n');
    return f;
}

bool Reads(const std::vector<uint8_t>& bytes, RelayZone& z) {
    std::string why;
    return RelayZone::FromZoneFile(bytes.data(), bytes.size(), z, why);
}

TEST(RelayZoneFile, RulesForLaterYearsReadAsTheLibraryReadsThem) {
    // Files with no table at all: the rule says everything. Rule times past
    // 24 hours and before midnight, both hemispheres, the day-of-year forms.
    for (const char* rule : {"CET-1CEST,M3.5.0,M10.5.0/3", "<-02>2<-01>,M3.5.0/-1,M10.5.0/0",
                             "IST-2IDT,M3.4.4/26,M10.5.0", "AEST-10AEDT,M10.1.0,M4.1.0/3",
                             "<+00>0<+02>-2,M3.5.0/1,M10.5.0/3", "XXX3YYY,J60/2,300/4", "NZST-12NZDT-13:45,M9.5.0,M4.1.0/3",
                             "<+0530>-5:30"}) {
        RelayZone z;
        ASSERT_TRUE(Reads(MadeZoneFile({}, {0}, rule), z)) << rule;
        CompareWithLibrary(z, rule, Utc(1971, 1, 1, 0, 0, 0), Utc(2100, 1, 1, 0, 0, 0), 86400 + 3607);
    }
}

TEST(RelayZoneFile, CutShortAnywhereIsRefusedAndNothingIsReadPastTheEnd) {
    const std::vector<uint8_t> berlin = SystemZoneFile("Europe/Berlin");
    ASSERT_GT(berlin.size(), 100u);
    // The rule for later years is the file's last line; the data end where it starts.
    size_t dataEnd = berlin.size() - 1;
    while (dataEnd > 0 && berlin[dataEnd - 1] != '\n') --dataEnd;
    --dataEnd;
    RelayZone z;
    for (size_t size = 0; size < berlin.size(); ++size) {
        std::vector<uint8_t> part(berlin.begin(), berlin.begin() + static_cast<ptrdiff_t>(size));
        EXPECT_EQ(Reads(part, z), size == dataEnd) << size;  // without the rule line the table alone holds
    }
    EXPECT_TRUE(Reads(berlin, z));
    // Every byte spoiled in turn: taken or refused, never a read out of bounds.
    for (size_t i = 0; i < berlin.size(); ++i) {
        std::vector<uint8_t> spoiled = berlin;
        spoiled[i] ^= 0xA5;
        RelayZone any;
        Reads(spoiled, any);
        any.UtcSeconds(Utc(2004, 3, 28, 2, 30, 0));
    }
}

TEST(RelayZoneFile, CountsIndexesAndOffsetsOutsideTheFileAreRefused) {
    RelayZone z;
    const int64_t t = Utc(2004, 3, 28, 1, 0, 0);
    ASSERT_TRUE(Reads(MadeZoneFile({{t, 1}, {t + 1000, 0}}, {3600, 7200}, "CET-1"), z));
    EXPECT_EQ(z.OffsetAt(t + 10), 7200);
    EXPECT_EQ(z.OffsetAt(t + 1000), 3600);

    EXPECT_FALSE(Reads(MadeZoneFile({{t, 2}}, {3600, 7200}, ""), z));             // offset index past the table
    EXPECT_FALSE(Reads(MadeZoneFile({{t, 0}, {t, 1}}, {3600, 7200}, ""), z));     // changes not ascending
    EXPECT_FALSE(Reads(MadeZoneFile({{t, 0}}, {INT32_MIN}, ""), z));              // no such offset
    EXPECT_FALSE(Reads(MadeZoneFile({{t, 0}}, {26 * 3600}, ""), z));
    EXPECT_FALSE(Reads(MadeZoneFile({}, {}, ""), z));                             // no offset at all
    EXPECT_FALSE(Reads(MadeZoneFile({{t, 0}}, {3600}, "", 1), z));                // leap seconds
    EXPECT_FALSE(Reads(MadeZoneFile({}, {3600}, "CET-1CEST"), z));                // daylight time, no rule
    EXPECT_FALSE(Reads(MadeZoneFile({}, {3600}, "CET-1CEST,M13.5.0,M10.5.0"), z));
    EXPECT_FALSE(Reads(MadeZoneFile({}, {3600}, "C-1"), z));
    std::vector<uint8_t> huge = MadeZoneFile({{t, 0}}, {3600}, "");
    for (size_t i = 44 + 7 + 32; i < 44 + 7 + 36; ++i) huge[i] = 0xFF;  // the table's count of changes
    EXPECT_FALSE(Reads(huge, z));
    std::vector<uint8_t> notZone = {'T', 'Z', 'i', 'X'};
    notZone.resize(200);
    EXPECT_FALSE(Reads(notZone, z));
}

class ZoneDirectoryTest : public ::testing::Test {
protected:
    ZoneDirectoryTest() {
        char dir[] = "/tmp/vorlan-zones-XXXXXX";
        dir_ = mkdtemp(dir) ? dir : "";
        const char* old = std::getenv("TZDIR");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZDIR", dir_.c_str(), 1);
    }
    ~ZoneDirectoryTest() override {
        if (had_) setenv("TZDIR", old_.c_str(), 1);
        else unsetenv("TZDIR");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    void Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::filesystem::create_directories(std::filesystem::path(dir_ + "/" + name).parent_path());
        std::ofstream(dir_ + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::string dir_;

private:
    bool had_ = false;
    std::string old_;
};

TEST_F(ZoneDirectoryTest, OnlyRegularFilesInsideTheDirectoryAreRead) {
    Write("Test/Plus3", MadeZoneFile({}, {3 * 3600}, "<+03>-3"));
    Write("zone.tab", std::vector<uint8_t>{'#', ' ', 'n', 'o', '\n'});
    Write("Test/Big", std::vector<uint8_t>(RelayZone::kMaxZoneFile + 1, 0));
    ASSERT_EQ(mkfifo((dir_ + "/Fifo").c_str(), 0600), 0);
    EXPECT_EQ(Zone("Test/Plus3").OffsetAt(0), 3 * 3600);

    for (const std::string& bad : std::vector<std::string>{"Fifo", "Test", "zone.tab", "Test/Big", "Test/None", "../Test/Plus3",
                                  "Test/../Test/Plus3", "/etc/localtime", "Test//Plus3", "Test/Plus3/", ".hidden",
                                  "Test/.Plus3", "Te st", std::string(101, 'A')}) {
        RelayZone z = RelayZone::Fixed(60);
        std::string why;
        EXPECT_FALSE(RelayZone::FromText(bad, z, why)) << bad;  // the FIFO neither blocks nor is read
        EXPECT_FALSE(why.empty()) << bad;
        EXPECT_EQ(z.OffsetAt(0), 60) << bad;
    }
}

}  // namespace
