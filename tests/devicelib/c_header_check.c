/* A C program built against the public header and the shared library. */
#include <stdio.h>

#include "vesklink.h"

static int32_t onEvent(int32_t flag, int32_t addr, int32_t c) { return flag + addr + c; }
static int32_t onAck(int32_t addr, int32_t nr) { return addr + nr; }

int main(void) {
    uint8_t buffer[VESKLINK_FRAME_SIZE] = {0};
    VeskEventCallback ev = onEvent;
    VeskAckCallback ack = onAck;
    if (GetLibVersion() != VESKLINK_LIB_VERSION || readDataWithCallback(0, buffer, ev, ack) != 0 ||
        getTextWidth(16, "Hello") != 74) {
        fprintf(stderr, "unexpected result\n");
        return 1;
    }
    return 0;
}
