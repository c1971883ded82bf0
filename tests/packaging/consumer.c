#include <stdio.h>

#include "olmtsfil.h"

int main(void) {
  char name[8];
  /* A missing recording opens to NULL; enumeration of no table counts 0. */
  if (TSOpenHT("/nonexistent/recording") != NULL) return 1;
  if (GCodePrmHT(NULL, -1, name) != OLMTS_PARAM_COUNT_BASE) return 2;
  puts("consumer linked against the installed olmtsfil");
  return 0;
}
