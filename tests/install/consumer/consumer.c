/* Links against an installed flavour and calls through the public headers. */
#include <rk350/rk350_ext.h>
#include <stdio.h>
#include <string.h>

int main(void) {
  const char* version = RK350_Version();
  /* Calls without a guard answer the same in both flavours. */
  if (SetFuncGenMode(0) != RK350_RESULT_NOT_AVAILABLE) return 1;
  if (strcmp(RK350_ResultName(RK350_RESULT_INVALID_VALUE), "ResultInvalidValue") != 0) return 2;
  if (GetRecordLength() != 0) return 3; /* no instrument yet */
  printf("rk350 %s\n", version);
  return 0;
}
