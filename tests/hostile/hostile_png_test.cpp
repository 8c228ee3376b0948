// Hostile PNG files: header sizes up to 2^32 - 1, text and ICC profile chunks
// that inflate to hundreds of megabytes, image data that inflates far past the
// last row, and wrong checksums on critical and ancillary chunks.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include "tests/formats/png/png_test_files.hpp"
#include "tests/hostile/hostile_support.hpp"

using namespace tamberlit;
using namespace tamberlit::testing;
using namespace tamberlit::testing::hostile;

namespace {

const TOutcome readError = Refused("EInvalidGraphic", "Error Reading File!");

std::vector<uint8_t> Small(int colorType = PNG_COLOR_TYPE_RGB, bool interlaced = false) {
    TPngLayout layout(5, 3, 8, colorType);
    layout.Interlaced = interlaced;
    layout.Pixels.assign(layout.RowBytes() * layout.Height, 0x77);
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        layout.Palette.assign(4, png_color{10, 20, 30});
        layout.Pixels.assign(layout.RowBytes() * layout.Height, 1);
        layout.PaletteAlpha = {0, 128};
    }
    return EncodePng(layout);
}

// The file with its IHDR's width and height replaced (and the CRC made good).
std::vector<uint8_t> WithSize(uint32_t width, uint32_t height, std::vector<uint8_t> file = Small()) {
    const auto w = BigEndian32(width), h = BigEndian32(height);
    std::copy(w.begin(), w.end(), file.begin() + 16);
    std::copy(h.begin(), h.end(), file.begin() + 20);
    const auto crc = BigEndian32(Crc32(file, 12, 17));
    std::copy(crc.begin(), crc.end(), file.begin() + 29);
    return file;
}

// Where a chunk of the type starts (its length field), or npos.
size_t ChunkAt(const std::vector<uint8_t>& file, const std::string& type) {
    for (size_t at = 8; at + 8 <= file.size();) {
        const uint32_t length = uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 | uint32_t(file[at + 2]) << 8 |
                                uint32_t(file[at + 3]);
        if (std::equal(type.begin(), type.end(), file.begin() + static_cast<ptrdiff_t>(at + 4))) return at;
        at += 12 + length;
    }
    return std::string::npos;
}

// The file with the CRC of its first chunk of the type turned wrong.
std::vector<uint8_t> BadCrc(std::vector<uint8_t> file, const std::string& type) {
    const size_t at = ChunkAt(file, type);
    if (at == std::string::npos) return {};
    const uint32_t length =
        uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 | uint32_t(file[at + 2]) << 8 | uint32_t(file[at + 3]);
    file[at + 8 + length] ^= 0x55;
    return file;
}

std::vector<uint8_t> InsertBefore(const std::vector<uint8_t>& file, const std::string& type,
                                  const std::vector<uint8_t>& chunk) {
    std::vector<uint8_t> result(file);
    const size_t at = ChunkAt(file, type);
    result.insert(result.begin() + static_cast<ptrdiff_t>(at), chunk.begin(), chunk.end());
    return result;
}

// A zlib stream of 256 MiB of zeros (about 256 KiB), made once.
const std::vector<uint8_t>& ZeroBomb() {
    static const std::vector<uint8_t> bomb = [] {
        z_stream stream{};
        deflateInit2(&stream, 9, Z_DEFLATED, 15, 9, Z_RLE);
        std::vector<uint8_t> zeros(1 << 20, 0), out;
        std::vector<uint8_t> buffer(1 << 16);
        for (int i = 0; i < 256; ++i) {
            stream.next_in = zeros.data();
            stream.avail_in = static_cast<uInt>(zeros.size());
            const int flush = i == 255 ? Z_FINISH : Z_NO_FLUSH;
            do {
                stream.next_out = buffer.data();
                stream.avail_out = static_cast<uInt>(buffer.size());
                deflate(&stream, flush);
                out.insert(out.end(), buffer.data(), buffer.data() + (buffer.size() - stream.avail_out));
            } while (stream.avail_out == 0);
        }
        deflateEnd(&stream);
        return out;
    }();
    return bomb;
}

// Chunk data: a keyword, its terminator, the compression method (0), then
// what follows.
std::vector<uint8_t> Keyed(const std::string& keyword, std::vector<uint8_t> prefix, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes(keyword.begin(), keyword.end());
    bytes.push_back(0);
    bytes.insert(bytes.end(), prefix.begin(), prefix.end());
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

std::vector<uint8_t> ZtxtBomb() { return MakeChunk("zTXt", Keyed("Comment", {0}, ZeroBomb())); }
std::vector<uint8_t> IccpBomb() { return MakeChunk("iCCP", Keyed("ICC profile", {0}, ZeroBomb())); }
std::vector<uint8_t> ItxtBomb() { return MakeChunk("iTXt", Keyed("Comment", {1, 0, 0, 0}, ZeroBomb())); }

// A 2000 x 2000 grey picture whose zlib stream goes on past the last row to
// inflate to 2 GiB of zeros (zero bytes are a valid row of any layout, filter
// byte included). Made cheaply: one fully flushed deflate block of 1 MiB of
// zeros starts afresh, so copies of it follow one another.
std::vector<uint8_t> InflatesTo2GiB(bool interlaced) {
    std::vector<uint8_t> zeros(1 << 20, 0), block(1 << 16);
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    stream.next_in = zeros.data();
    stream.avail_in = static_cast<uInt>(zeros.size());
    stream.next_out = block.data();
    stream.avail_out = static_cast<uInt>(block.size());
    deflate(&stream, Z_FULL_FLUSH);
    block.resize(block.size() - stream.avail_out);
    deflateEnd(&stream);
    const uLong blockAdler = adler32(1, zeros.data(), static_cast<uInt>(zeros.size()));
    std::vector<uint8_t> data = {0x78, 0xDA};
    uLong adler = 1;
    for (int i = 0; i < 2048; ++i) {
        data.insert(data.end(), block.begin(), block.end());
        adler = adler32_combine(adler, blockAdler, static_cast<z_off_t>(zeros.size()));
    }
    data.insert(data.end(), {0x03, 0x00});  // an empty final block
    const auto check = BigEndian32(static_cast<uint32_t>(adler));
    data.insert(data.end(), check.begin(), check.end());

    std::vector<uint8_t> file = {137, 80, 78, 71, 13, 10, 26, 10};
    std::vector<uint8_t> header = BigEndian32(2000);
    const auto height = BigEndian32(2000);
    header.insert(header.end(), height.begin(), height.end());
    header.insert(header.end(), {8, PNG_COLOR_TYPE_GRAY, 0, 0, static_cast<uint8_t>(interlaced ? 1 : 0)});
    auto append = [&file](const std::vector<uint8_t>& chunk) { file.insert(file.end(), chunk.begin(), chunk.end()); };
    append(MakeChunk("IHDR", header));
    for (size_t at = 0; at < data.size(); at += 1 << 16) {
        const auto end = data.begin() + static_cast<ptrdiff_t>(std::min(data.size(), at + (1 << 16)));
        append(MakeChunk("IDAT", std::vector<uint8_t>(data.begin() + static_cast<ptrdiff_t>(at), end)));
    }
    append(MakeChunk("IEND", {}));
    return file;
}

// The table keeps a case to a line where it fits, as written.
// clang-format off
std::vector<TCase> Cases() {
    std::vector<TCase> cases;
    auto add = [&cases](const std::string& name, std::function<std::vector<uint8_t>()> make, TOutcome expected,
                        bool readerOnly = false) { cases.push_back({name, TReader::PNG, make, expected, readerOnly}); };

    // ---- header sizes
    add("Header4294967295Squared", [] { return WithSize(0xFFFFFFFF, 0xFFFFFFFF); },
        Refused("EImageTooLarge", TooLarge(4294967295, 4294967295)));
    add("Header2pow31x1", [] { return WithSize(0x80000000u, 1); },
        Refused("EImageTooLarge", TooLarge(2147483648, 1)));
    add("Header65536x1", [] { return WithSize(65536, 1); }, Refused("EImageTooLarge", TooLarge(65536, 1)));
    add("Header1x65536", [] { return WithSize(1, 65536); }, Refused("EImageTooLarge", TooLarge(1, 65536)));
    add("Header65535x65535", [] { return WithSize(65535, 65535); },
        Refused("EImageTooLarge", TooLarge(65535, 65535)));
    add("Header16385x16384", [] { return WithSize(16385, 16384); },
        Refused("EImageTooLarge", TooLarge(16385, 16384)));
    add("Header0x0", [] { return WithSize(0, 0); }, readError);
    add("HeaderHugeInterlacedPalette", [] { return WithSize(60000, 60000, Small(PNG_COLOR_TYPE_PALETTE, true)); },
        Refused("EImageTooLarge", TooLarge(60000, 60000)));
    // Within the limit and with far too little data: refused when the rows
    // run out, the untouched block costing nothing.
    add("Header65535x4096WithFiveRowsOfData", [] { return WithSize(65535, 4096, Small(PNG_COLOR_TYPE_RGB_ALPHA)); },
        readError);
    add("Header4096x65535Interlaced", [] { return WithSize(4096, 65535, Small(PNG_COLOR_TYPE_RGB, true)); },
        readError);
    add("HugeHeaderAfterAnotherChunk",
        [] {
            auto file = WithSize(65535, 65535);
            return InsertAfterHeader(file, MakeChunk("tEXt", Keyed("a", {}, {'b'})));
        },
        Refused("EImageTooLarge", TooLarge(65535, 65535)));
    add("SecondHugeHeader",
        [] {
            const auto huge = WithSize(65535, 65535);
            return InsertBefore(Small(), "IDAT",
                                std::vector<uint8_t>(huge.begin() + 8, huge.begin() + 33));
        },
        readError);

    // ---- decompression bombs in ancillary chunks
    add("ZtxtBombBeforeTheImage", [] { return InsertAfterHeader(Small(), ZtxtBomb()); },
        Loaded(5, 3, Px24));
    add("IccpBombBeforeThePalette", [] { return InsertAfterHeader(Small(PNG_COLOR_TYPE_PALETTE), IccpBomb()); },
        Loaded(5, 3, Px32));
    add("ItxtBombBeforeTheImage", [] { return InsertAfterHeader(Small(PNG_COLOR_TYPE_GRAY), ItxtBomb()); },
        Loaded(5, 3, Px24));
    add("ZtxtBombAfterTheImage", [] { return InsertBefore(Small(), "IEND", ZtxtBomb()); }, Loaded(5, 3, Px24));
    add("IccpAndZtxtBombsWithBadChecksums",
        [] {
            auto chunks = ZtxtBomb();
            chunks.back() ^= 1;
            auto iccp = IccpBomb();
            iccp.back() ^= 1;
            chunks.insert(chunks.end(), iccp.begin(), iccp.end());
            return InsertAfterHeader(Small(), chunks);
        },
        Loaded(5, 3, Px24));
    add("FourHundredZtxtBombsOf1MiB",
        [] {
            static const std::vector<uint8_t> small = [] {
                std::vector<uint8_t> zeros(1 << 20, 0);
                return Deflate(zeros);
            }();
            std::vector<uint8_t> chunks;
            const auto chunk = MakeChunk("zTXt", Keyed("Comment", {0}, small));
            for (int i = 0; i < 400; ++i) chunks.insert(chunks.end(), chunk.begin(), chunk.end());
            return InsertAfterHeader(Small(), chunks);
        },
        Loaded(5, 3, Px24));

    // ---- checksums
    add("BadCrcIHDR", [] { return BadCrc(Small(), "IHDR"); }, readError);
    add("BadCrcIDAT", [] { return BadCrc(Small(), "IDAT"); }, readError);
    add("BadCrcPLTE", [] { return BadCrc(Small(PNG_COLOR_TYPE_PALETTE), "PLTE"); }, readError);
    add("BadCrcIEND", [] { return BadCrc(Small(), "IEND"); }, Loaded(5, 3, Px24));
    // A damaged ancillary chunk is dropped: without its tRNS the palette
    // picture has no alpha.
    add("BadCrcTRNS", [] { return BadCrc(Small(PNG_COLOR_TYPE_PALETTE), "tRNS"); }, Loaded(5, 3, Px24));
    add("BadCrcText", [] { return BadCrc(InsertAfterHeader(Small(), MakeChunk("tEXt", Keyed("k", {}, {'v'}))), "tEXt"); },
        Loaded(5, 3, Px24));
    add("BadCrcPrivateCriticalChunk",
        [] { return BadCrc(InsertAfterHeader(Small(), MakeChunk("XXXX", {1, 2, 3})), "XXXX"); }, readError);
    add("UnknownCriticalChunk", [] { return InsertAfterHeader(Small(), MakeChunk("XXXX", {1, 2, 3})); },
        readError);

    // ---- lengths and ends
    add("AncillaryChunkLength2pow31minus1",
        [] {
            auto chunk = MakeChunk("tEXt", {'k', 0, 'v'});
            chunk[0] = 0x7F;
            chunk[1] = chunk[2] = chunk[3] = 0xFF;
            return InsertAfterHeader(Small(), chunk);
        },
        readError);
    add("ChunkLengthFFFFFFFF",
        [] {
            auto chunk = MakeChunk("tEXt", {'k', 0, 'v'});
            chunk[0] = chunk[1] = chunk[2] = chunk[3] = 0xFF;
            return InsertAfterHeader(Small(), chunk);
        },
        readError);
    add("TwentyThousandEmptyIdatChunks",
        [] {
            std::vector<uint8_t> chunks;
            const auto chunk = MakeChunk("IDAT", {});
            for (int i = 0; i < 20000; ++i) chunks.insert(chunks.end(), chunk.begin(), chunk.end());
            return InsertBefore(Small(), "IDAT", chunks);
        },
        Loaded(5, 3, Px24));
    add("FiftyThousandUnknownChunks",
        [] {
            std::vector<uint8_t> chunks;
            const auto chunk = MakeChunk("sPAM", {1, 2, 3, 4});
            for (int i = 0; i < 50000; ++i) chunks.insert(chunks.end(), chunk.begin(), chunk.end());
            return InsertAfterHeader(Small(), chunks);
        },
        Loaded(5, 3, Px24));
    // The picture is complete at its last row: what the stream holds beyond
    // it is not inflated.
    add("ImageDataInflatingTo2GiBPastTheLastRow", [] { return InflatesTo2GiB(false); }, Loaded(2000, 2000, Px24));
    add("InterlacedImageDataInflatingTo2GiBPastTheLastRow", [] { return InflatesTo2GiB(true); },
        Loaded(2000, 2000, Px24));
    add("EmptyFile", [] { return std::vector<uint8_t>{}; }, readError);
    add("SignatureOnly", [] { return std::vector<uint8_t>{137, 80, 78, 71, 13, 10, 26, 10}; }, readError);
    add("CutInsideTheImageData",
        [] {
            auto file = Small();
            file.resize(ChunkAt(file, "IDAT") + 12);
            return file;
        },
        readError);
    add("PaletteOf300Entries",
        [] {
            auto file = Small(PNG_COLOR_TYPE_PALETTE);
            const size_t at = ChunkAt(file, "PLTE");
            const uint32_t length = uint32_t(file[at + 2]) << 8 | file[at + 3];
            file.erase(file.begin() + static_cast<ptrdiff_t>(at), file.begin() + static_cast<ptrdiff_t>(at + 12 + length));
            const auto plte = MakeChunk("PLTE", std::vector<uint8_t>(900, 9));
            file.insert(file.begin() + static_cast<ptrdiff_t>(at), plte.begin(), plte.end());
            return file;
        },
        readError);
    return cases;
}
// clang-format on

class HostilePNG : public ::testing::TestWithParam<TCase> {};

TEST_P(HostilePNG, HandledWithinBounds) { CheckCase(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Files, HostilePNG, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
