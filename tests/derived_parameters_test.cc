// Channel count and sample rates derived from the table.
#include <gtest/gtest.h>

#include "olmtsfil.h"
#include "reader_test_support.h"

namespace {

using namespace olmtsfil::testdata;

class DerivedParametersTest : public RecordingTest {
 protected:
  DerivedParametersTest() : RecordingTest("derived") {}
};

TEST_F(DerivedParametersTest, ChannelCountIgnoresMissingAndMistypedComponents) {
  TableFile t;
  t.Int("CHEX", 1).Int("CHEY", 2).Int("CHHX", 0).Double("CHHZ", 5.0).Text("VER", "X");
  Open(t);
  int32_t count = -1;
  EXPECT_EQ(GetNumChnHT(handle, &count), OLMTS_OK);
  EXPECT_EQ(count, 2);
  count = -1;
  EXPECT_EQ(GetNumChnHT(nullptr, &count), OLMTS_OK);
  EXPECT_EQ(count, 0);
  Open(TypicalTable());
  EXPECT_EQ(GetNumChnHT(handle, &count), OLMTS_OK);
  EXPECT_EQ(count, 5);
}

TEST_F(DerivedParametersTest, MinuteBasedBoardsUseRateCodes) {
  TableFile t;
  t.Text("VER", "B4264-2").Int("SRW1", 0).Int("SRW2", 3).Int("SRW3", 7).Int("SRL0", 100);
  Open(t);
  double rate = -1;
  EXPECT_EQ(GetSampleRateHzHT(handle, 1, &rate), OLMTS_OK);
  EXPECT_EQ(rate, 24.0);
  EXPECT_EQ(GetSampleRateHzHT(handle, 2, &rate), OLMTS_OK);
  EXPECT_EQ(rate, 4.0);
  rate = -1;
  EXPECT_EQ(GetSampleRateHzHT(handle, 3, &rate), OLMTS_BAD_RATE_CODE);
  EXPECT_EQ(rate, 0.0);                                              // cleared on every failure
  EXPECT_EQ(GetSampleRateHzHT(handle, 0, &rate), OLMTS_BAD_STREAM);  // although "SRL0" exists
  EXPECT_EQ(GetSampleRateHzHT(handle, 4, &rate), OLMTS_BAD_STREAM);

  // Every code gives its samples per minute over 60.
  const double expected[7] = {24, 12, 8, 4, 3, 2, 1};
  for (int code = 0; code < 7; ++code) {
    t.Set(Parameter::Int("SRW1", code));
    Open(t);
    EXPECT_EQ(GetSampleRateHzHT(handle, 1, &rate), OLMTS_OK);
    EXPECT_EQ(rate, expected[code]);
  }
  t.Set(Parameter::Int("SRW1", -1));
  Open(t);
  EXPECT_EQ(GetSampleRateHzHT(handle, 1, &rate), OLMTS_BAD_RATE_CODE);
}

TEST_F(DerivedParametersTest, OtherBoardsUseHertzPerStream) {
  Open(TypicalTable());
  double rate = -1;
  EXPECT_EQ(GetSampleRateHzHT(handle, 3, &rate), OLMTS_OK);
  EXPECT_EQ(rate, 150.0);
  EXPECT_EQ(GetSampleRateHzHT(handle, 0, &rate), OLMTS_OK);
  EXPECT_EQ(rate, 2400.0);
  EXPECT_EQ(GetSampleRateHzHT(handle, 6, &rate), OLMTS_BAD_STREAM);
  EXPECT_EQ(GetSampleRateHzHT(handle, -1, &rate), OLMTS_BAD_STREAM);
  rate = -1;
  EXPECT_EQ(GetSampleRateHzHT(nullptr, 1, &rate), OLMTS_NULL_HANDLE);
  EXPECT_EQ(rate, 0.0);
}

TEST_F(DerivedParametersTest, VersionAndRateParametersMustExistWithTheirTypes) {
  TableFile t = TypicalTable();
  t.Remove("VER");
  Open(t);
  double rate;
  for (int stream = 0; stream <= 5; ++stream) EXPECT_EQ(GetSampleRateHzHT(handle, stream, &rate), OLMTS_NO_SUCH_NAME);

  t = TypicalTable();
  t.Set(Parameter::Int("VER", 4264));
  Open(t);
  EXPECT_EQ(GetSampleRateHzHT(handle, 1, &rate), OLMTS_TYPE_MISMATCH);

  t = TypicalTable();
  t.Set(Parameter::Double("SRL2", 2400.0));
  t.Remove("SRL4");
  Open(t);
  EXPECT_EQ(GetSampleRateHzHT(handle, 2, &rate), OLMTS_TYPE_MISMATCH);
  EXPECT_EQ(GetSampleRateHzHT(handle, 4, &rate), OLMTS_NO_SUCH_NAME);
}

}  // namespace
