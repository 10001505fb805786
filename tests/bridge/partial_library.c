/* A display library that lacks the poll export, for the bridge's start-up
 * check. The five exports it has do nothing. */
#include <stdint.h>

#define EXPORT __attribute__((visibility("default")))

EXPORT int32_t InitDevice(void) { return 1; }
EXPORT int32_t sendFlag(int32_t conn, int32_t addr, int32_t flag) {
  (void)conn, (void)addr, (void)flag;
  return 1;
}
EXPORT int32_t setRPMLimit(int32_t conn, int32_t addr, uint32_t limit) {
  (void)conn, (void)addr, (void)limit;
  return 1;
}
EXPORT int32_t sendMessage2(void) { return 1; }
EXPORT int32_t sendMessage4(void) { return 1; }
