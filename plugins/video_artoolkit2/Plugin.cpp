#include "CaptureVideo.h"

#include <osgart/Plugin.h>

OSGART_PLUGIN_ENTRY(CaptureVideo)
