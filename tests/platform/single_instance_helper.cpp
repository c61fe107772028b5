// A stand-in program for the single-instance tests: exits 3 when refused,
// otherwise announces itself through the file named by ULMARO_SI_READY and
// stays alive while the file named by ULMARO_SI_FLAG exists (at most 30 s).
#include "platform/SingleInstance.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (!SingleInstanceCheck(argc, argv))
        return 3;
    if (const char* ready = std::getenv("ULMARO_SI_READY"))
        if (FILE* f = std::fopen(ready, "w"))
            std::fclose(f);
    if (const char* flag = std::getenv("ULMARO_SI_FLAG"))
        for (int i = 0; i < 3000 && access(flag, F_OK) == 0; ++i)
            usleep(10000);
    return 0;
}
