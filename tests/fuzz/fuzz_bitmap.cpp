// libFuzzer entry point: any byte string given to the BMP reader must either load as a sane
// image or be refused with a message, without a sanitizer report.
#include "io/Bitmap.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bitmap bmp;
    if (bmp.loadFromMemory(data, size)) {
        const bool sane = bmp.pixels != nullptr && bmp.width > 0 && bmp.height > 0 && bmp.width <= 32768 &&
                          bmp.height <= 32768 && bmp.message == "Bitmap loaded";
        if (!sane) {
            __builtin_trap();
        }
        // Reading the last byte lets AddressSanitizer check the buffer against the dimensions.
        volatile uint8_t last = bmp.pixels[static_cast<size_t>(bmp.width) * bmp.height * 3 - 1];
        (void)last;
    } else if (bmp.message.empty() || bmp.pixels != nullptr || bmp.isLoaded) {
        __builtin_trap();
    }
    return 0;
}
