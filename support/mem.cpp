// Tagged block manager: a thin layer over the heap.  The tag names the block's owner
// for the reader of the code; it changes nothing at run time and no list of blocks is
// kept.  Every allocation of the library goes through here.
#include "varnek.h"

#include <cstdlib>

extern "C" {

short Mem_Init(void) { return 1; }

short Mem_PwrDown(void) { return 1; }

void *Mem_Malloc(const char *tag, uint32_t size)
{
    (void)tag;
    return malloc(size);
}

void *Mem_Alloc(uint32_t size) { return Mem_Malloc("LOCAL", size); }

void Mem_Free(const char *tag, void *block)
{
    (void)tag;
    free(block);
}

}  // extern "C"
