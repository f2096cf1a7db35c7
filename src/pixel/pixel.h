// Front door of the pixel-format subsystem: the format table and the codecs.
#pragma once

#include "pixel/format_table.h"
#include "pixel/pixel_codec.h"
