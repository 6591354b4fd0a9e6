#include "gmimeSupport.h"

#include <gmime/gmime.h>
#include <iconv.h>
#include <mutex>

namespace korimo {
namespace {
iconv_t heldConverters[6]; // never closed: see ensureGMime
} // namespace

void ensureGMime() {
    static std::once_flag once;
    std::call_once(once, [] {
        g_mime_init();
        // glibc unloads a converter module when its last descriptor closes, and the decoders open and
        // close one per text: holding one of each for the process's life keeps them loaded (reading a
        // small Japanese message gets three to four times faster).
        int n = 0;
        for (const char* charset : {"CP932", "EUC-JP", "ISO-2022-JP"}) {
            heldConverters[n++] = iconv_open("UTF-8", charset);
            heldConverters[n++] = iconv_open(charset, "UTF-8");
        }
    });
}

} // namespace korimo
