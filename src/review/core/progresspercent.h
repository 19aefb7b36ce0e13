#pragma once

// done / total as a whole percentage, halves rounded to the even neighbour
// (1 of 8 is 12, 3 of 8 is 38). Integer arithmetic, so 12.5 is never 12.4999.
// 0 when total is not positive.
int ProgressPercent(long long done, long long total);
