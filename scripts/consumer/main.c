#include <stdio.h>

#include <vesklink.h>

int main(void) {
    int32_t version = GetLibVersion();
    int32_t width = getTextWidth(16, "Hello");
    printf("vesklink %d, \"Hello\" in font 16 is %d wide\n", version, width);
    return version == VESKLINK_LIB_VERSION && width == 74 ? 0 : 1;
}
