// Decompressor side.  So far no session has a decompressor context.
#include "zip/zip.h"

void ZIP_UnzipReset() {}

int16_t ZIP_UnzipDelete(uint16_t) { return -1; }
