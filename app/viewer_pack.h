// The one pack the viewer's screens show (the mosaic, Select Image, viewing progress), loaded by
// pack_open (app/pack_menu.h). Only the main thread reads it; a build on a worker thread opens
// packs of its own.
#pragma once
#include "pack/pack_file.h"

extern OpenPack viewer_pack;
