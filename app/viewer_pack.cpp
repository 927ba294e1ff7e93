// The viewer's open pack, in static storage (an OpenPack is about 512 KiB).
#include "app/viewer_pack.h"

OpenPack viewer_pack;
