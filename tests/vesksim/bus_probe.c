/* A program of the library's own kind for `vesksim run --bus`: flag 3 to
 * display 4001 behind bus station 3 on COM2, then a moment for the station
 * to take it before the port closes. */
#include <stdio.h>
#include <unistd.h>

#include "vesklink.h"

int main(void) {
  if (InitDeviceRS(2) != 0) {
    printf("COM2 did not open\n");
    return 1;
  }
  printf("sent message %d\n", sendFlagRS("\003", 4001, 3));
  fflush(stdout);
  usleep(300000);
  closeDeviceRS();
  return 0;
}
