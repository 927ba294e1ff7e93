// The evergreen executable: a thin main over the viewer library.
#include <cstdio>

#include "app/version.h"

int main() {
    std::printf("evergreen %s\n", evergreen_version());
    return 0;
}
