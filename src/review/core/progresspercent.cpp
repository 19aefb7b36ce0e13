#include "review/core/progresspercent.h"

int ProgressPercent(long long done, long long total) {
    if (total <= 0)
        return 0;
    if (done <= 0)
        return 0;
    if (done >= total)
        return 100;
    const long long scaled = done * 100;
    long long quotient = scaled / total;
    const long long twiceRest = 2 * (scaled % total);
    if (twiceRest > total || (twiceRest == total && quotient % 2 != 0))
        ++quotient;
    return static_cast<int>(quotient);
}
