// Time stamps and the names of a stream's dated files (core functions).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "olmtsfil.h"
#include "ts/file_set.h"
#include "ts/time_stamp.h"
#include "writer/stream_writer.h"

namespace {

using olmtsfil::CompareStamps;
using olmtsfil::NextSetFileName;
using olmtsfil::StampSeconds;
using olmtsfil::testdata::MakeStamp;
using olmtsfil::testdata::StampToUnix;

TEST(StampSecondsTest, CalendarDates) {
  EXPECT_EQ(StampSeconds(MakeStamp(1970, 1, 1)), 0u);
  EXPECT_EQ(StampSeconds(MakeStamp(2000, 3, 1)), 11017u * 86400u);
  EXPECT_EQ(StampSeconds(MakeStamp(1969, 12, 31, 23, 59, 59)), 0u);
  EXPECT_EQ(StampSeconds(MakeStamp(1900, 6, 1)), 0u);
  // Agrees with a proleptic calendar from 1970 up to 2099 (every fourth year leaps).
  for (int year : {1970, 1971, 1972, 1999, 2000, 2024, 2026, 2038, 2099}) {
    for (int month : {1, 2, 3, 12}) {
      for (int day : {1, 28}) {
        auto s = MakeStamp(year, month, day, 13, 14, 15);
        EXPECT_EQ(StampSeconds(s), static_cast<uint32_t>(StampToUnix(s))) << year << "-" << month << "-" << day;
      }
    }
  }
  auto leap_day = MakeStamp(2024, 2, 29);
  EXPECT_EQ(StampSeconds(leap_day) + 86400u, StampSeconds(MakeStamp(2024, 3, 1)));
}

TEST(StampSecondsTest, OutOfRangeBytes) {
  // Month 0 (or above 12): month and day are ignored, the time of day counts.
  auto s = MakeStamp(2026, 1, 1, 5, 6, 7);
  s.month = 0;
  s.day = 17;
  EXPECT_EQ(StampSeconds(s), StampSeconds(MakeStamp(2026, 1, 1)) + 5u * 3600u + 6u * 60u + 7u);
  s.month = 13;
  EXPECT_EQ(StampSeconds(s), StampSeconds(MakeStamp(2026, 1, 1)) + 5u * 3600u + 6u * 60u + 7u);
  s = MakeStamp(2026, 1, 1);
  s.century = 21;
  EXPECT_EQ(StampSeconds(s), 4294967295u);
  s.century = 18;
  EXPECT_EQ(StampSeconds(s), 0u);
  s = MakeStamp(2026, 1, 1);
  s.reserved = 0xFF;  // not interpreted
  EXPECT_EQ(StampSeconds(s), StampSeconds(MakeStamp(2026, 1, 1)));
  // Hostile bytes wrap in 32 bits instead of overflowing.
  s = MakeStamp(2099, 12, 31, 255, 255, 255);
  s.day = 255;
  s.year = 255;
  (void)StampSeconds(s);
}

TEST(CompareStampsTest, OrderBySeconds) {
  EXPECT_EQ(CompareStamps(MakeStamp(2026, 1, 1), MakeStamp(2026, 1, 1)), 0);
  EXPECT_EQ(CompareStamps(MakeStamp(2026, 1, 1), MakeStamp(2026, 1, 1, 0, 0, 1)), -1);
  EXPECT_EQ(CompareStamps(MakeStamp(2026, 1, 2), MakeStamp(2026, 1, 1, 23, 59, 59)), 1);
  auto far = MakeStamp(2026, 1, 1);
  far.century = 21;
  EXPECT_EQ(CompareStamps(far, MakeStamp(2099, 12, 31, 23, 59, 59)), 1);
  // Stamps before 1970 all count as its start.
  EXPECT_EQ(CompareStamps(MakeStamp(1960, 1, 1), MakeStamp(1970, 1, 1)), 0);
  auto differs_only_in_reserved = MakeStamp(2026, 1, 1);
  differs_only_in_reserved.reserved = 9;
  EXPECT_EQ(CompareStamps(differs_only_in_reserved, MakeStamp(2026, 1, 1)), 0);
}

std::vector<std::string> Next(const std::string& path) { return NextSetFileName(path); }

TEST(NextSetFileNameTest, SequenceLetterThenNextDay) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Next("/d/rc05a.TS1"), (V{"/d/rc05b.TS1", "/d/rc06a.TS1"}));
  EXPECT_EQ(Next("/d/xc31c.TS2"), (V{"/d/xc31d.TS2", "/d/x101a.TS2"}));  // year end
  EXPECT_EQ(Next("/d/x228b.TSH"), (V{"/d/x228c.TSH", "/d/x229a.TSH", "/d/x301a.TSH"}));
  EXPECT_EQ(Next("/d/x229a.TFC"), (V{"/d/x229b.TFC", "/d/x301a.TFC"}));
  EXPECT_EQ(Next("/d/x227a.TS1"), (V{"/d/x227b.TS1", "/d/x228a.TS1"}));
  EXPECT_EQ(Next("/d/x430a.TS1"), (V{"/d/x430b.TS1", "/d/x501a.TS1"}));
  EXPECT_EQ(Next("/d/xb30a.TS1"), (V{"/d/xb30b.TS1", "/d/xc01a.TS1"}));
  EXPECT_EQ(Next("/d/x131y.TS1"), (V{"/d/x131z.TS1", "/d/x201a.TS1"}));
  EXPECT_EQ(Next("/d/x930a.TS1"), (V{"/d/x930b.TS1", "/d/xa01a.TS1"}));
  EXPECT_EQ(Next("/d/x630a.TS1"), (V{"/d/x630b.TS1", "/d/x701a.TS1"}));
  EXPECT_EQ(Next("/d/x730a.TS1"), (V{"/d/x730b.TS1", "/d/x731a.TS1"}));
  EXPECT_EQ(Next("/d/x831a.TS1"), (V{"/d/x831b.TS1", "/d/x901a.TS1"}));
  EXPECT_EQ(Next("rc05a"), (V{"rc05b", "rc06a"}));  // no directory, no extension
}

TEST(NextSetFileNameTest, NamesWithoutASuccessorOrWithoutADate) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Next("/d/xc31z.TS1"), V{});  // z has no successor
  EXPECT_EQ(Next("/d/xc315.TS1"), V{});  // ends in a digit
  EXPECT_EQ(Next("/d/a.TS1"), V{});      // stem too short
  EXPECT_EQ(Next("/d/ab.TS1"), (V{"/d/ac.TS1"}));
  EXPECT_EQ(Next("/d/xab.TS1"), (V{"/d/xac.TS1"}));      // fewer than 4 characters: no date
  EXPECT_EQ(Next("/d/xd05a.TS1"), (V{"/d/xd05b.TS1"}));  // month 13
  EXPECT_EQ(Next("/d/x005a.TS1"), (V{"/d/x005b.TS1"}));  // month 0
  EXPECT_EQ(Next("/d/x132a.TS1"), (V{"/d/x132b.TS1"}));  // day 32
  EXPECT_EQ(Next("/d/x100a.TS1"), (V{"/d/x100b.TS1"}));  // day 0
  EXPECT_EQ(Next("/d/xgxxa.TS1"), (V{"/d/xgxxb.TS1"}));  // no number at all
  EXPECT_EQ(Next("/d.x/rc05"), V{});                     // the dot of a folder is no extension
}

TEST(NextSetFileNameTest, KeepsTheLetterCaseOfTheCurrentStemAsAVariant) {
  using V = std::vector<std::string>;
  // Lower case first, as the recorder writes; then the case of the current name.
  EXPECT_EQ(Next("/D/RC05A.TS1"), (V{"/D/rc05b.TS1", "/D/RC05B.TS1", "/D/rc06a.TS1", "/D/RC06A.TS1"}));
  EXPECT_EQ(Next("/D/RB30A.TS1"), (V{"/D/rb30b.TS1", "/D/RB30B.TS1", "/D/rc01a.TS1", "/D/RC01A.TS1"}));
  EXPECT_EQ(Next("/D/Rc05b.TS1"), (V{"/D/rc05c.TS1", "/D/Rc05c.TS1", "/D/rc06a.TS1", "/D/Rc06a.TS1"}));
}

// Callers that list a set get the reader's candidates through the C interface,
// one by one, and are told when none is left or their buffer is too small.
TEST(NextSetFileNameTest, TheCInterfaceHandsOutTheSameCandidates) {
  for (const char* path : {"/D/RC05A.TS1", "/d/x228b.TSH", "/d/xc31z.TS1", "rc05a"}) {
    std::vector<std::string> got;
    char out[64];
    int32_t st = OLMTS_OK;
    for (int32_t i = 0; (st = olmts_next_set_file(path, i, out, sizeof out)) == OLMTS_OK; ++i) got.emplace_back(out);
    EXPECT_EQ(st, OLMTS_END_OF_DATA) << path;
    EXPECT_EQ(got, Next(path)) << path;
  }
  char out[13] = "untouched";
  EXPECT_EQ(olmts_next_set_file("/d/rc05a.TS1", 0, out, 12), OLMTS_BAD_ARGUMENT);  // 12 characters and the NUL
  EXPECT_STREQ(out, "untouched");
  EXPECT_EQ(olmts_next_set_file("/d/rc05a.TS1", 0, out, 13), OLMTS_OK);
  EXPECT_STREQ(out, "/d/rc05b.TS1");
  EXPECT_EQ(olmts_next_set_file("/d/rc05a.TS1", -1, out, 13), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_next_set_file(nullptr, 0, out, 13), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_next_set_file("/d/rc05a.TS1", 0, nullptr, 13), OLMTS_BAD_ARGUMENT);
  EXPECT_EQ(olmts_next_set_file("/d/rc05a.TS1", 0, out, 0), OLMTS_BAD_ARGUMENT);
}

}  // namespace
