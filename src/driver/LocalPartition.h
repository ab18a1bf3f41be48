// -w: the number of the partition the program runs in, as the provider sees it.
#pragma once

namespace cmplxview {

// Prints "The local partition number is N." and returns 0, or returns 1.
int queryLocalPartition();

}  // namespace cmplxview
