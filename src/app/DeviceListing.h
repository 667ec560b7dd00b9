#pragma once
#include <cstdio>

namespace app {

// Prints the numbered device and input lists as the audio layer numbers them, using the
// device choice of the program folder's vantrel.ini for the inputs. Returns the exit code.
int printDeviceLists(std::FILE *out);

}  // namespace app
