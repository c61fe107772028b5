// A stand-in program for the single-instance tests: exits 3 when refused,
// otherwise announces itself through the file named by ULMARO_SI_READY and
// stays alive while the file named by ULMARO_SI_FLAG exists (at most 30 s).
// Meanwhile it takes show requests as the program's event loop would and
// appends one line per valid request to the file named by ULMARO_SI_SHOWN.
#include "platform/SingleInstance.h"

#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (!SingleInstanceCheck(argc, argv))
        return 3;
    if (const char* ready = std::getenv("ULMARO_SI_READY"))
        if (FILE* f = std::fopen(ready, "w"))
            std::fclose(f);
    const char* shown = std::getenv("ULMARO_SI_SHOWN");
    if (const char* flag = std::getenv("ULMARO_SI_FLAG")) {
        for (int i = 0; i < 3000 && access(flag, F_OK) == 0; ++i) {
            pollfd p{ShowRequestSocket(), POLLIN, 0};
            if (p.fd < 0) {
                usleep(10000);
                continue;
            }
            if (poll(&p, 1, 10) > 0 && shown) {
                const int n = TakeShowRequests();
                if (FILE* f = std::fopen(shown, "a")) {
                    for (int k = 0; k < n; ++k)
                        std::fputs("show\n", f);
                    std::fclose(f);
                }
            }
        }
    }
    return 0;
}
