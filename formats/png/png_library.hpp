#pragma once
// What the PNG reader and writer share about libpng: how its failures come
// back to us, and the ancillary-chunk limits.
//
// libpng reports a failure by calling our error function, which must not
// return: it jumps back to the setjmp of the running section (png_longjmp).
// A jump skips every frame in between without running destructors, and a C++
// exception must never unwind through libpng's C frames. So the codecs work in
// short sections: a section is a function whose frame holds only plain data
// (pointers, integers), which calls setjmp first and returns false when libpng
// jumped back. Everything that allocates, raises or owns memory happens
// between sections, where no libpng frame is on the stack.

#include <png.h>

#include <cstddef>

namespace tamberlit::png_detail {

// The last text libpng gave with a failure; kept for debugging, never shown
// (the codecs raise their own fixed messages).
struct TPngErrorRecord {
    char Message[160] = {};
};

// Error function for png_create_*_struct: records the text in the
// TPngErrorRecord passed as error pointer and jumps back to the section.
[[noreturn]] void RaisePngError(png_structp png, png_const_charp message);
// Warning function: libpng goes on after a warning (a bad CRC in an ancillary
// chunk, an unknown sRGB profile); the picture is still sound, so we stay silent
// instead of writing to stderr as libpng's default does.
void IgnorePngWarning(png_structp png, png_const_charp message);

// At most this many ancillary chunks are kept by libpng (its own documented
// safe default, set here so it holds whatever the build of libpng says).
inline constexpr png_uint_32 ChunkCacheMax = 128;
// No chunk that libpng reads into memory may occupy more than this, in the
// file or inflated (zTXt, iTXt, iCCP): a small file cannot inflate into a large
// allocation. The reader also tells libpng to pass over those chunks unread;
// this limit holds should that ever change.
inline constexpr png_alloc_size_t ChunkMallocMax = 8'000'000;

}  // namespace tamberlit::png_detail
