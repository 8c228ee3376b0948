#include "tests/support/test_support.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace tamberlit::testing {

namespace fs = std::filesystem;

TTempFolder::TTempFolder() {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = fs::temp_directory_path() /
                         ("tamberlit-test-" + std::to_string(::getpid()) + "-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TTempFolder::~TTempFolder() {
    std::error_code error;
    // Restore permissions a test may have taken away, so everything can go.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(path_, error);
}

TBytes& TBytes::U8(unsigned value) {
    data_.push_back(static_cast<uint8_t>(value));
    return *this;
}
TBytes& TBytes::U16(unsigned value) { return U8(value & 0xFF).U8((value >> 8) & 0xFF); }
TBytes& TBytes::U32(uint32_t value) { return U16(value & 0xFFFF).U16(value >> 16); }
TBytes& TBytes::I32(int32_t value) { return U32(static_cast<uint32_t>(value)); }
TBytes& TBytes::Text(const std::string& text) {
    data_.insert(data_.end(), text.begin(), text.end());
    return *this;
}
TBytes& TBytes::Fill(size_t count, uint8_t value) {
    data_.insert(data_.end(), count, value);
    return *this;
}
TBytes& TBytes::Append(const std::vector<uint8_t>& bytes) {
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    return *this;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

// ---------------------------------------------------------------- SHA-256 (FIPS 180-4)

namespace {

constexpr std::array<uint32_t, 64> roundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t RotateRight(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void Compress(std::array<uint32_t, 8>& state, const uint8_t* block) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 | uint32_t(block[4 * i + 2]) << 8 |
               block[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4], f = state[5], g = state[6],
             h = state[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t s1 = RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25);
        const uint32_t choose = (e & f) ^ (~e & g);
        const uint32_t t1 = h + s1 + choose + roundConstants[i] + w[i];
        const uint32_t s0 = RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22);
        const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const uint32_t t2 = s0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

}  // namespace

std::string Sha256Hex(const uint8_t* data, size_t size) {
    std::array<uint32_t, 8> state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    size_t offset = 0;
    for (; offset + 64 <= size; offset += 64) Compress(state, data + offset);
    uint8_t tail[128] = {};
    const size_t rest = size - offset;
    if (rest > 0) std::memcpy(tail, data + offset, rest);
    tail[rest] = 0x80;
    const size_t tailBlocks = rest + 9 <= 64 ? 1 : 2;
    const uint64_t bits = uint64_t(size) * 8;
    for (int i = 0; i < 8; ++i) tail[tailBlocks * 64 - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
    for (size_t i = 0; i < tailBlocks; ++i) Compress(state, tail + 64 * i);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (uint32_t word : state)
        for (int shift = 28; shift >= 0; shift -= 4) hex += digits[(word >> shift) & 15];
    return hex;
}

// ---------------------------------------------------------------- pixels

namespace {

std::vector<uint8_t> Pixels(const TBitmap& original, bool withAlpha) {
    TBitmap copy;
    const TBitmap* bitmap = &original;
    if (original.PixelFormat() != Px24 && original.PixelFormat() != Px32) {
        copy.CopyFrom(const_cast<TBitmap*>(&original));
        copy.SetPixelFormat(Px24);
        bitmap = &copy;
    }
    const bool alpha = bitmap->PixelFormat() == Px32;
    const int step = alpha ? 4 : 3;
    const int channels = withAlpha ? 4 : 3;
    std::vector<uint8_t> pixels;
    pixels.reserve(size_t(bitmap->Width()) * bitmap->Height() * channels);
    for (int y = 0; y < bitmap->Height(); ++y) {
        const uint8_t* row = bitmap->ConstRowAddress(y);
        for (int x = 0; x < bitmap->Width(); ++x, row += step) {
            pixels.push_back(row[2]);
            pixels.push_back(row[1]);
            pixels.push_back(row[0]);
            if (withAlpha) pixels.push_back(alpha ? row[3] : 255);
        }
    }
    return pixels;
}

}  // namespace

std::vector<uint8_t> RgbaPixels(const TBitmap& bitmap) { return Pixels(bitmap, true); }
std::vector<uint8_t> RgbPixels(const TBitmap& bitmap) { return Pixels(bitmap, false); }

// ---------------------------------------------------------------- corpus

std::string TCorpusEntry::Get(const std::string& column) const {
    auto found = Fields.find(column);
    return found == Fields.end() ? std::string() : found->second;
}

std::string CorpusFolder() { return TAMBERLIT_CORPUS_DIR; }

bool CorpusAvailable() { return fs::exists(fs::path(CorpusFolder()) / "expected.tsv"); }

std::vector<TCorpusEntry> CorpusEntries(const std::string& prefix) {
    std::vector<TCorpusEntry> entries;
    std::ifstream in(fs::path(CorpusFolder()) / "expected.tsv");
    if (!in) return entries;
    auto split = [](const std::string& line) {
        std::vector<std::string> cells;
        std::string cell;
        std::istringstream stream(line);
        while (std::getline(stream, cell, '\t')) cells.push_back(cell);
        if (!line.empty() && line.back() == '\t') cells.emplace_back();
        return cells;
    };
    std::string line;
    std::getline(in, line);
    const auto header = split(line);
    while (std::getline(in, line)) {
        const auto cells = split(line);
        if (cells.empty() || cells[0].rfind(prefix, 0) != 0) continue;
        TCorpusEntry entry;
        entry.Path = cells[0];
        for (size_t i = 0; i < header.size(); ++i) entry.Fields[header[i]] = i < cells.size() ? cells[i] : "";
        entries.push_back(std::move(entry));
    }
    return entries;
}

TCliRun RunCliMeasured(const std::vector<std::string>& arguments, const std::string& input) {
    TCliRun run;
    std::vector<std::string> words{TAMBERLIT_CLI_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) return run;
    // The input goes through a file, so that a large one cannot block the pipe.
    char inputPath[] = "/tmp/tamberlit-input-XXXXXX";
    const int inputFile = ::mkstemp(inputPath);
    if (inputFile < 0) return run;
    ::unlink(inputPath);
    if (!input.empty() && ::write(inputFile, input.data(), input.size()) != static_cast<ssize_t>(input.size()))
        return run;
    ::lseek(inputFile, 0, SEEK_SET);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(output[1], STDOUT_FILENO);
        ::dup2(output[1], STDERR_FILENO);
        ::dup2(inputFile, STDIN_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(output[1]);
    ::close(inputFile);
    char buffer[4096];
    for (ssize_t got; (got = ::read(output[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        run.Output.append(buffer, static_cast<size_t>(got));
    }
    ::close(output[0]);
    int status = 0;
    rusage usage{};
    if (child > 0 && ::wait4(child, &status, 0, &usage) == child) {
        run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.PeakResidentBytes = int64_t{usage.ru_maxrss} * 1024;
        if (WIFEXITED(status)) run.ExitCode = WEXITSTATUS(status);
    }
    return run;
}

}  // namespace tamberlit::testing
