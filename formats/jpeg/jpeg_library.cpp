#include "formats/jpeg/jpeg_library.hpp"

// The library reports a fatal error by calling the error manager's exit
// routine, which must not return. We leave the library with longjmp, back into
// the function that called it. That is only sound when no frame between the
// setjmp and the longjmp holds a C++ object with a destructor, so:
// - every library call runs inside one of the small "Run..." functions below,
//   whose frames hold plain data only (references to trivially destructible
//   records), and which return false after a fatal error;
// - the callbacks the library calls (source, destination, progress) are plain
//   too, and never let a C++ exception out;
// - the C++ caller turns the failure into an exception after the library's
//   frames are gone, and destroys the library object in a guard.

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h uses FILE
#include <exception>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include <jpeglib.h>
// jerror.h gives the message numbers and the ERREXIT/WARNMS macros.
#include <jerror.h>

#include "image/exceptions.hpp"
#include "image/limits.hpp"
#include "image/scope_guard.hpp"

namespace tamberlit {

namespace {

// ---------------------------------------------------------------- errors

struct TErrorManager {
    jpeg_error_mgr pub;  // first member: the library only sees this part
    std::jmp_buf jump;
};

[[noreturn]] void ErrorExit(j_common_ptr info) { std::longjmp(reinterpret_cast<TErrorManager*>(info->err)->jump, 1); }

// Warnings (level -1) and trace messages go nowhere. The end-of-data warning
// our source raises for a truncated file means "decode what there is", which
// is what we want; corrupt-data warnings leave the library's best picture, as
// every other viewer shows it. One warning is counted (NoteDataRanOut): where
// the Huffman decoder first needs bits that the scan's data do not hold.
void NoteDataRanOut(j_decompress_ptr info);

void EmitMessage(j_common_ptr info, int level) {
    if (level < 0 && info->is_decompressor && info->err->msg_code == JWRN_HIT_MARKER)
        NoteDataRanOut(reinterpret_cast<j_decompress_ptr>(info));
}

void OutputMessage(j_common_ptr) {}

void ResetErrorManager(j_common_ptr info) {
    info->err->num_warnings = 0;
    info->err->msg_code = 0;
}

void InitErrorManager(TErrorManager& error) {
    jpeg_std_error(&error.pub);
    error.pub.error_exit = ErrorExit;
    error.pub.emit_message = EmitMessage;
    error.pub.output_message = OutputMessage;
    error.pub.reset_error_mgr = ResetErrorManager;
}

// ---------------------------------------------------------------- source

// Reads the compressed bytes in place, 4096 at a time.
struct TMemorySource {
    jpeg_source_mgr pub;
    const JOCTET* data;
    size_t size;
    size_t position;  // the end of the block the library holds
    // Set once the rows are being decoded: where the data ran out counts.
    bool decoding;
    bool ended;        // the file has no more bytes
    bool dataMissed;   // a scan's data ended before the scan did
    bool refused;      // ... before half of the rows
    long rowsPresent;  // rows of output the data reached, -1: all of them
    bool coarse;       // a scan after the first has data missing
};

// A scan is read one iMCU row at a time: a band of 8 rows, or 16 with
// vertical subsampling (fewer when the output is scaled down).
long BandHeight(const jpeg_decompress_struct& info) { return long{info.max_v_samp_factor} * info.min_DCT_scaled_size; }

// The output rows of the scan being read whose data the decoder has read in
// full.
long RowsRead(const jpeg_decompress_struct& info) {
    return std::min(static_cast<long>(info.output_height), static_cast<long>(info.input_iMCU_row) * BandHeight(info));
}

// Where the data of a scan ended. Every scan after the first goes over a
// picture the first has covered: data missing there leave every row present,
// if coarser. In the first scan the rows read so far are present; when they
// are less than half of the picture, decoding ends there, before the rest
// costs anything.
void ScanDataEnded(j_decompress_ptr info, TMemorySource& source, long rowsRead) {
    if (info->input_scan_number > 1) {
        source.coarse = true;
        return;
    }
    source.rowsPresent = rowsRead;
    if (2 * rowsRead < static_cast<long>(info->output_height)) {
        source.refused = true;
        ERREXIT(info, JERR_INPUT_EOF);
    }
}

// The file ends. The Huffman decoders read ahead of what they need, so this
// alone says nothing: they warn when they need bits that are not there
// (NoteDataRanOut). An arithmetic decoder supplies zeros without a word, as it
// does at the end of every scan: there the band being read when the file
// ended counts as whole only when it is the last one (only the end-of-image
// marker may be missing).
void DataEnded(j_decompress_ptr info, TMemorySource& source) {
    source.ended = true;
    if (!info->arith_code) return;
    const long read = RowsRead(*info);
    if (read + BandHeight(*info) < static_cast<long>(info->output_height)) ScanDataEnded(info, source, read);
}

// The Huffman decoder needed bits and found a marker instead: the scan's data
// end here, whether the file ends (our source then gives an end-of-image
// marker) or a marker follows too early. Damage up to a restart marker is
// different: the data go on after it.
void NoteDataRanOut(j_decompress_ptr info) {
    auto* source = reinterpret_cast<TMemorySource*>(info->src);
    const int marker = info->unread_marker;
    if (!source->decoding || source->dataMissed || (marker >= JPEG_RST0 && marker <= JPEG_RST0 + 7)) return;
    source->dataMissed = true;
    ScanDataEnded(info, *source, RowsRead(*info));
}

constexpr size_t SourceBlockSize = 4096;
const JOCTET EndOfImage[2] = {0xFF, JPEG_EOI};

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr info) {
    auto* source = reinterpret_cast<TMemorySource*>(info->src);
    if (source->position >= source->size) {
        if (source->size == 0) ERREXIT(info, JERR_INPUT_EMPTY);
        if (source->decoding && !source->ended) DataEnded(info, *source);
        // Truncated data: an end-of-image marker lets the library finish the
        // picture with what it has (the rest stays as the library fills it),
        // as the library's own stdio source does.
        WARNMS(info, JWRN_JPEG_EOF);
        source->pub.next_input_byte = EndOfImage;
        source->pub.bytes_in_buffer = sizeof EndOfImage;
        return TRUE;
    }
    const size_t count = std::min(SourceBlockSize, source->size - source->position);
    source->pub.next_input_byte = source->data + source->position;
    source->pub.bytes_in_buffer = count;
    source->position += count;
    return TRUE;
}

void SkipInputData(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    auto* source = reinterpret_cast<TMemorySource*>(info->src);
    auto skip = static_cast<size_t>(count);
    if (skip <= source->pub.bytes_in_buffer) {
        source->pub.next_input_byte += skip;
        source->pub.bytes_in_buffer -= skip;
        return;
    }
    skip -= source->pub.bytes_in_buffer;
    source->pub.bytes_in_buffer = 0;
    source->position += std::min(skip, source->size - source->position);
}

void TermSource(j_decompress_ptr) {}

// ---------------------------------------------------------------- destination

// Hands the compressed bytes to a TStream in blocks. A stream error is kept
// and raised again after the library has been left.
struct TStreamDestination {
    jpeg_destination_mgr pub;
    TStream* stream;
    std::exception_ptr* failure;
    JOCTET buffer[1 << 16];
};

bool WriteBlock(TStreamDestination& destination, size_t count) noexcept {
    try {
        destination.stream->WriteBuffer(destination.buffer, count);
        return true;
    } catch (...) {
        *destination.failure = std::current_exception();
        return false;
    }
}

void InitDestination(j_compress_ptr info) {
    auto* destination = reinterpret_cast<TStreamDestination*>(info->dest);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = sizeof destination->buffer;
}

boolean EmptyOutputBuffer(j_compress_ptr info) {
    auto* destination = reinterpret_cast<TStreamDestination*>(info->dest);
    if (!WriteBlock(*destination, sizeof destination->buffer)) ERREXIT(info, JERR_FILE_WRITE);
    destination->pub.next_output_byte = destination->buffer;
    destination->pub.free_in_buffer = sizeof destination->buffer;
    return TRUE;
}

void TermDestination(j_compress_ptr info) {
    auto* destination = reinterpret_cast<TStreamDestination*>(info->dest);
    const size_t count = sizeof destination->buffer - destination->pub.free_in_buffer;
    if (count > 0 && !WriteBlock(*destination, count)) ERREXIT(info, JERR_FILE_WRITE);
}

// ---------------------------------------------------------------- decompressor

struct TDecompressor {
    jpeg_decompress_struct info;
    TErrorManager error;
    TMemorySource source;
    jpeg_progress_mgr progress;
    long memoryLimit;
    bool tooManyScans;
};
static_assert(std::is_trivially_destructible_v<TDecompressor>);

// Called by the library while it reads scans and rows.
void LimitScans(j_common_ptr info) {
    auto* decompressor = static_cast<TDecompressor*>(info->client_data);
    if (decompressor->info.input_scan_number > MaxJPEGScans) {
        decompressor->tooManyScans = true;
        ERREXIT(info, JERR_NOT_COMPILED);  // any code: the flag above says what happened
    }
}

void PrepareDecompressor(TDecompressor& decompressor, const uint8_t* data, size_t size, const TSizeLimits& limits) {
    InitErrorManager(decompressor.error);
    decompressor.info.err = &decompressor.error.pub;
    decompressor.info.client_data = &decompressor;  // kept by jpeg_create_decompress
    TMemorySource& source = decompressor.source;
    source.pub.init_source = InitSource;
    source.pub.fill_input_buffer = FillInputBuffer;
    source.pub.skip_input_data = SkipInputData;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = TermSource;
    source.pub.next_input_byte = nullptr;
    source.pub.bytes_in_buffer = 0;
    source.data = data;
    source.size = size;
    source.position = 0;
    source.decoding = false;
    source.ended = false;
    source.dataMissed = false;
    source.refused = false;
    source.rowsPresent = -1;
    source.coarse = false;
    decompressor.progress.progress_monitor = LimitScans;
    decompressor.memoryLimit =
        static_cast<long>(std::min<uint64_t>(MaxJPEGLibraryMemory(limits), std::numeric_limits<long>::max()));
}

// ---- the calls into the library; plain frames only (see the top of the file)

bool RunReadHeader(TDecompressor& decompressor) {
    if (setjmp(decompressor.error.jump) != 0) return false;
    jpeg_create_decompress(&decompressor.info);
    decompressor.info.src = &decompressor.source.pub;
    decompressor.info.progress = &decompressor.progress;
    decompressor.info.mem->max_memory_to_use = decompressor.memoryLimit;
    jpeg_read_header(&decompressor.info, TRUE);
    return true;
}

bool RunSetUpDecoding(TDecompressor& decompressor, const TJPEGSettings& settings) {
    if (setjmp(decompressor.error.jump) != 0) return false;
    jpeg_decompress_struct& info = decompressor.info;
    info.scale_num = 1;
    info.scale_denom = 1u << settings.Scale;
    info.do_block_smoothing = settings.Smoothing;
    // Grey stays exact: one byte per pixel, shown through a palette of all 256
    // grey levels, never quantised. Colour comes blue-first (JCS_EXT_BGR), the
    // byte order of our Px24 rows. Four-component files (CMYK, YCCK) have no
    // conversion to either; the library refuses them in jpeg_start_decompress.
    const bool grey = settings.Grayscale || info.jpeg_color_space == JCS_GRAYSCALE;
    info.out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    info.quantize_colors = !grey && settings.PixelFormat == jf8Bit;
    if (info.quantize_colors) info.desired_number_of_colors = 236;
    if (settings.Performance == jpBestSpeed) {
        info.dct_method = JDCT_IFAST;
        info.two_pass_quantize = FALSE;
        info.dither_mode = JDITHER_ORDERED;
    }
    info.buffered_image = settings.ProgressiveDisplay && jpeg_has_multiple_scans(&info);
    if (info.buffered_image && info.quantize_colors && info.two_pass_quantize) info.enable_2pass_quant = TRUE;
    jpeg_calc_output_dimensions(&info);
    return true;
}

bool RunStartDecompress(TDecompressor& decompressor) {
    if (setjmp(decompressor.error.jump) != 0) return false;
    // A multi-scan file is read completely here (unless in buffered-image
    // mode), with the progress monitor counting its scans.
    jpeg_start_decompress(&decompressor.info);
    return true;
}

// The colours the library chose for quantised output, copied out before the
// library frees them.
struct TColorMap {
    int Count;
    JSAMPLE Entries[256][3];  // in output order: blue, green, red
};

void ReadAllRows(jpeg_decompress_struct& info, JSAMPROW* rows) {
    // Our source never suspends, so every call delivers at least one row.
    while (info.output_scanline < info.output_height)
        jpeg_read_scanlines(&info, rows + info.output_scanline, info.output_height - info.output_scanline);
}

bool RunReadRows(TDecompressor& decompressor, JSAMPROW* rows, TColorMap& colorMap) {
    if (setjmp(decompressor.error.jump) != 0) return false;
    jpeg_decompress_struct& info = decompressor.info;
    if (!info.buffered_image) {
        ReadAllRows(info, rows);
    } else {
        // Every scan in turn, each one over the last; the last pass is final.
        for (;;) {
            const bool finalPass = jpeg_input_complete(&info);
            jpeg_start_output(&info, info.input_scan_number);
            ReadAllRows(info, rows);
            jpeg_finish_output(&info);
            if (finalPass) break;
        }
    }
    colorMap.Count = 0;
    if (info.quantize_colors && info.colormap != nullptr && info.out_color_components == 3) {
        colorMap.Count = std::min(info.actual_number_of_colors, 256);
        for (int component = 0; component < 3; ++component)
            for (int i = 0; i < colorMap.Count; ++i) colorMap.Entries[i][component] = info.colormap[component][i];
    }
    jpeg_finish_decompress(&info);
    return true;
}

// ---- turning a failure into an exception, now that the library is left

[[noreturn]] void RaiseDecodeError(const TDecompressor& decompressor) {
    if (decompressor.source.refused) CheckRowsPresent(decompressor.source.rowsPresent, decompressor.info.output_height);
    if (decompressor.tooManyScans)
        throw EInvalidGraphic("JPEG file has more than " + std::to_string(MaxJPEGScans) + " scans");
    const int code = decompressor.error.pub.msg_code;
    // The memory manager asks for a temporary file when the library's buffers
    // would exceed max_memory_to_use; we have none to give.
    if (code == JERR_NO_BACKING_STORE)
        throw EImageTooLarge("JPEG image needs more than " + std::to_string(decompressor.memoryLimit >> 20) +
                             " MiB of decoder memory");
    throw EJPEG(code);
}

// ---------------------------------------------------------------- compressor

struct TCompressor {
    jpeg_compress_struct info;
    TErrorManager error;
    TStreamDestination destination;
};
static_assert(std::is_trivially_destructible_v<TCompressor>);

bool RunCompress(TCompressor& compressor, const TJPEGSettings& settings, JDIMENSION width, JDIMENSION height,
                 JSAMPROW* rows) {
    if (setjmp(compressor.error.jump) != 0) return false;
    jpeg_compress_struct& info = compressor.info;
    jpeg_create_compress(&info);
    info.dest = &compressor.destination.pub;
    info.image_width = width;
    info.image_height = height;
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;  // the byte order of Px24 rows
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, settings.CompressionQuality, TRUE);  // baseline-compatible tables
    if (settings.Grayscale) jpeg_set_colorspace(&info, JCS_GRAYSCALE);
    if (settings.ProgressiveEncoding) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height)
        jpeg_write_scanlines(&info, rows + info.next_scanline, info.image_height - info.next_scanline);
    jpeg_finish_compress(&info);
    return true;
}

}  // namespace

uint64_t MaxJPEGLibraryMemory(const TSizeLimits& limits) {
    return std::max<uint64_t>(uint64_t{64} << 20, 2 * limits.MaxPixels);
}

TJPEGHeader ReadJPEGHeader(const uint8_t* data, size_t size) {
    TDecompressor decompressor{};
    // The header alone: no coefficient is kept, the default limit is enough.
    PrepareDecompressor(decompressor, data, size, TSizeLimits{});
    // Destroying a library object never created is a no-op: the record starts zeroed.
    TScopeGuard destroy([&decompressor] { jpeg_destroy_decompress(&decompressor.info); });
    if (!RunReadHeader(decompressor)) RaiseDecodeError(decompressor);
    const jpeg_decompress_struct& info = decompressor.info;
    TJPEGHeader header;
    header.Width = static_cast<int>(info.image_width);  // at most JPEG_MAX_DIMENSION (65500)
    header.Height = static_cast<int>(info.image_height);
    header.Grayscale = info.jpeg_color_space == JCS_GRAYSCALE;
    header.Progressive = jpeg_has_multiple_scans(&decompressor.info);
    return header;
}

TRowsPresent DecodeJPEG(const uint8_t* data, size_t size, const TJPEGSettings& settings, TBitmap& bitmap) {
    TDecompressor decompressor{};
    PrepareDecompressor(decompressor, data, size, bitmap.Limits);
    TScopeGuard destroy([&decompressor] { jpeg_destroy_decompress(&decompressor.info); });
    if (!RunReadHeader(decompressor)) RaiseDecodeError(decompressor);
    // The library keeps the whole picture's coefficients for a multi-scan file
    // even when it scales the output down, so the limit applies to the file's
    // own size before anything is allocated.
    bitmap.Limits.CheckSize(decompressor.info.image_width, decompressor.info.image_height);
    if (!RunSetUpDecoding(decompressor, settings)) RaiseDecodeError(decompressor);
    decompressor.source.decoding = true;
    if (!RunStartDecompress(decompressor)) RaiseDecodeError(decompressor);

    const jpeg_decompress_struct& info = decompressor.info;
    const int width = static_cast<int>(info.output_width);
    const int height = static_cast<int>(info.output_height);
    const bool oneComponent = info.output_components == 1;
    if (!oneComponent && info.output_components != 3) throw EJPEG(JERR_CONVERSION_NOTIMPL);
    bitmap.NewImage(width, height, oneComponent ? Px8 : Px24);
    if (oneComponent && !info.quantize_colors) bitmap.SetPalette(CreateGreyRampPalette(0));
    // One pointer per row: the library fills the bitmap's rows in place, top
    // row first, whatever the stride or the number of rows (one-row pictures
    // included).
    std::vector<JSAMPROW> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) rows[y] = bitmap.RowAddress(y);
    TColorMap colorMap{};
    if (!RunReadRows(decompressor, rows.data(), colorMap)) RaiseDecodeError(decompressor);

    if (colorMap.Count > 0) {
        std::vector<TPaletteEntry> entries(static_cast<size_t>(colorMap.Count));
        for (int i = 0; i < colorMap.Count; ++i) {
            const JSAMPLE* entry = colorMap.Entries[i];
            entries[i] = TPaletteEntry{entry[2], entry[1], entry[0], 0};
        }
        bitmap.SetPalette(CreatePalette(std::move(entries)));
    }
    const TMemorySource& source = decompressor.source;
    return {source.rowsPresent < 0 ? height : source.rowsPresent, height, source.coarse};
}

void CompressJPEG(TBitmap& bitmap, const TJPEGSettings& settings, TStream& output) {
    if (bitmap.Empty()) return;
    // Three components in blue, green, red order: a copy brought to Px24 (the
    // alpha of a Px32 picture goes, palette pictures are expanded). It shares
    // the pixels when the bitmap already is Px24.
    TBitmap source;
    source.CopyFrom(&bitmap);
    source.SetPixelFormat(Px24);
    const int height = source.Height();
    std::vector<JSAMPROW> rows(static_cast<size_t>(height));
    // The library only reads the rows it is given.
    for (int y = 0; y < height; ++y) rows[y] = const_cast<JSAMPROW>(source.ConstRowAddress(y));

    std::exception_ptr failure;
    TCompressor compressor{};
    InitErrorManager(compressor.error);
    compressor.info.err = &compressor.error.pub;
    TStreamDestination& destination = compressor.destination;
    destination.pub.init_destination = InitDestination;
    destination.pub.empty_output_buffer = EmptyOutputBuffer;
    destination.pub.term_destination = TermDestination;
    destination.stream = &output;
    destination.failure = &failure;
    TScopeGuard destroy([&compressor] { jpeg_destroy_compress(&compressor.info); });
    if (!RunCompress(compressor, settings, static_cast<JDIMENSION>(source.Width()), static_cast<JDIMENSION>(height),
                     rows.data())) {
        if (failure) std::rethrow_exception(failure);
        throw EJPEG(compressor.error.pub.msg_code);
    }
}

}  // namespace tamberlit
