/* The stand-in VM for memory measurements: it stays for 300 ms, so that the launcher and
   its monitor can be looked at while a VM runs, then ends successfully. */
#include <time.h>

int main(void) {
    struct timespec rest = {0, 300 * 1000 * 1000};
    while (nanosleep(&rest, &rest) != 0) {
    }
    return 0;
}
