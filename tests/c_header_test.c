/* Compiled as strict C99: the public header must need nothing from C++. */
#include <stdio.h>
#include <string.h>

#include "olmtsfil.h"

int main(void) {
  TsHandle* ts = NULL;
  CalHandle* cal = NULL;
  TimeStamp t;
  Complex c;
  char name[8];
  if (sizeof(TimeStamp) != 8 || sizeof(Complex) != 16) return 1;
  memset(&t, 0, sizeof t);
  c.re = 1.0;
  c.im = 0.0;
  (void)c;
  if (TSOpenHT("/nonexistent/recording") != NULL) return 2;
  TSCloseHT(&ts);
  if (CalOpenHT(1, "/nonexistent/calibration") != NULL) return 7;
  CalCloseHT(&cal);
  if (ReadPrmHT(NULL, "CHEX", OLMTS_TYPE_INT32, name) != OLMTS_NULL_HANDLE) return 3;
  if (SeekHT(NULL, 1, t, 0) != OLMTS_NULL_HANDLE) return 4;
  if (GCodePrmHT(NULL, -1, name) != OLMTS_PARAM_COUNT_BASE || name[0] != '\0') return 5;
  if (strcmp(olmts_status_text(OLMTS_END_OF_DATA), "end of data, or no record consumed yet") != 0) return 6;
  {
    int64_t expected = -1;
    double rate = -1.0;
    if (olmts_gap_scans(NULL, 1, &expected, NULL, &rate) != OLMTS_NULL_HANDLE || expected != -1) return 8;
    if (olmts_record_rate_hz(NULL, 1, 1, &rate) != OLMTS_NULL_HANDLE || rate != -1.0) return 9;
  }
  {
    int32_t index = -1;
    char path[8] = "x";
    if (olmts_stream_file(NULL, 1, &index, path, (int32_t)sizeof path) != OLMTS_NULL_HANDLE || index != -1 ||
        path[0] != 'x')
      return 10;
    if (olmts_next_set_file("/d/rc05a.TS1", 1, path, (int32_t)sizeof path) != OLMTS_BAD_ARGUMENT || path[0] != 'x')
      return 13;
  }
  {
    char path[16];
    if (olmts_next_set_file("rc05a.TS1", 0, path, (int32_t)sizeof path) != OLMTS_OK || strcmp(path, "rc05b.TS1") != 0)
      return 14;
  }
  {
    OlmtsStreamWalk walk;
    walk.records = 5;
    if (olmts_walk_stream(NULL, 1, &walk) != OLMTS_NULL_HANDLE || walk.records != 0 || walk.gaps != 0) return 11;
    if (sizeof walk != 32 || sizeof walk.first != 8) return 12;
  }
  {
    OlmtsStreamSurvey survey;
    survey.tags_read = 5;
    if (olmts_survey_stream(NULL, 1, 0, &survey) != OLMTS_NULL_HANDLE || survey.tags_read != 0) return 15;
    if (sizeof survey != 48) return 16;
  }
  {
    OlmtsChain* chain = NULL;
    OlmtsConverter* conv = NULL;
    OlmtsStageInfo info;
    OlmtsConvertOptions options = {0.0, 0.0, 0, 0};
    if (olmts_chain_open(NULL, 3, NULL, NULL, NULL, 0, 0.0, &chain) != OLMTS_NULL_HANDLE || chain != NULL) return 20;
    if (olmts_chain_stage_info(NULL, 1, OLMTS_STAGE_TOTAL, &info) != OLMTS_BAD_ARGUMENT) return 21;
    if (olmts_converter_open(NULL, OLMTS_UNITS_DECONVOLVED, &options, &conv) != OLMTS_BAD_ARGUMENT) return 22;
    {
      int64_t from = -2, to = -2;
      if (olmts_converter_start(NULL, 0, -1, &from, &to) != OLMTS_BAD_ARGUMENT || from != -2 || to != -2) return 24;
    }
    olmts_chain_close(&chain);
    olmts_converter_close(&conv);
    if (sizeof info.name != 24 || strcmp(olmts_status_text(OLMTS_SENSOR_REQUIRED), "unknown status") == 0) return 23;
  }
  puts("C interface usable from C99");
  return 0;
}
