// corpus_maker: writes the deterministic image corpus that bench/compare times
// every tool on. Game-like sprite sheets (soft-edged shapes, drop shadows, large
// transparent areas), alpha-masked textures (soft noise masks) and opaque
// photo-like images (multi-scale noise with grain, so they compress like
// photographs rather than like flat art), from 256x256 to 2048x2048.
//
//   corpus_maker OUT_FOLDER
//
// writes OUT_FOLDER/png32, png24, tga32, tgarle, bmp32 and jpeg (the same
// pictures in each), and OUT_FOLDER/folder40 (40 32-bit TGA files for the
// worker-scaling test). Same program, same files: nothing depends on time or
// on the machine.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/image_files.hpp"

using namespace tamberlit::bench;
namespace fs = std::filesystem;

namespace {

uint32_t Hash(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

float Unit(uint32_t h) { return static_cast<float>(h >> 8) * (1.0f / 16777216.0f); }

float ValueNoise(float x, float y, uint32_t seed) {
    const float fx = std::floor(x), fy = std::floor(y);
    const auto ix = static_cast<uint32_t>(static_cast<int32_t>(fx)),
               iy = static_cast<uint32_t>(static_cast<int32_t>(fy));
    float tx = x - fx, ty = y - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    const float a = Unit(Hash(ix, iy, seed)), b = Unit(Hash(ix + 1, iy, seed));
    const float c = Unit(Hash(ix, iy + 1, seed)), d = Unit(Hash(ix + 1, iy + 1, seed));
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

// Fractal sum of octaves in [0, 1).
float Fractal(float x, float y, int octaves, uint32_t seed) {
    float sum = 0, weight = 0.5f, total = 0;
    for (int i = 0; i < octaves; ++i) {
        sum += ValueNoise(x, y, seed + static_cast<uint32_t>(i) * 101u) * weight;
        total += weight;
        x *= 2.03f;
        y *= 2.03f;
        weight *= 0.5f;
    }
    return sum / total;
}

uint8_t Byte(float value) {
    if (value <= 0) return 0;
    if (value >= 255) return 255;
    return static_cast<uint8_t>(value + 0.5f);
}

float Clamp01(float value) { return value < 0 ? 0 : value > 1 ? 1 : value; }
float SmoothStep(float edge0, float edge1, float x) {
    const float t = Clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3 - 2 * t);
}

TRawImage Blank(uint32_t width, uint32_t height) {
    TRawImage image;
    image.Width = width;
    image.Height = height;
    image.Channels = 4;
    image.Pixels.assign(size_t{width} * height * 4, 0);
    return image;
}

// A sheet of cells x cells sprites, 256 pixels a cell: a shaded body, a head,
// two limbs, a soft shadow and a glow; everything else fully transparent
// (colour 0, as most exporters leave it).
TRawImage SpriteSheet(uint32_t cells, uint32_t seed) {
    const uint32_t cell = 256, size = cells * cell;
    TRawImage image = Blank(size, size);
    for (uint32_t cy = 0; cy < cells; ++cy) {
        for (uint32_t cx = 0; cx < cells; ++cx) {
            const uint32_t s = Hash(cx, cy, seed);
            const float hue = Unit(Hash(s, 1, seed)) * 6.2831853f;
            const float baseR = 140 + 100 * std::cos(hue), baseG = 140 + 100 * std::cos(hue + 2.1f),
                        baseB = 140 + 100 * std::cos(hue + 4.2f);
            const float bodyRx = 45 + 25 * Unit(Hash(s, 2, seed)), bodyRy = 60 + 20 * Unit(Hash(s, 3, seed));
            const float headR = 28 + 12 * Unit(Hash(s, 4, seed));
            const float lean = (Unit(Hash(s, 5, seed)) - 0.5f) * 30;
            for (uint32_t y = 0; y < cell; ++y) {
                uint8_t* row = image.Row(cy * cell + y) + size_t{cx} * cell * 4;
                for (uint32_t x = 0; x < cell; ++x) {
                    const float px = static_cast<float>(x) - 128, py = static_cast<float>(y) - 128;
                    // Signed distances (pixels, negative inside) of the parts.
                    const float bx = (px - lean * 0.3f) / bodyRx, by = (py - 20) / bodyRy;
                    const float body = (std::sqrt(bx * bx + by * by) - 1) * std::min(bodyRx, bodyRy);
                    const float hx = px - lean, hy = py + 55;
                    const float head = std::sqrt(hx * hx + hy * hy) - headR;
                    const float armY = py + 5, armX = std::fabs(px) - bodyRx - 15;
                    const float arm = std::max(std::fabs(armY) - 8, armX < 0 ? -1e9f : armX) +
                                      (std::fabs(px) < bodyRx + 30 && std::fabs(px) > bodyRx - 5 ? 0 : 1e9f);
                    float inside = std::min(body, std::min(head, arm));
                    const float coverage = Clamp01(0.5f - inside);  // one-pixel anti-aliased edge
                    // Shadow: a wide soft ellipse under the feet, at most half opaque.
                    const float sx = px / 70, sy = (py - 95) / 14;
                    const float shadow = 0.5f * (1 - SmoothStep(0.4f, 1.2f, std::sqrt(sx * sx + sy * sy)));
                    // Glow around the head: a soft halo.
                    const float glow = 0.35f * (1 - SmoothStep(0, 30, head));
                    const float under = std::max(shadow, glow * (head > 0 ? 1.0f : 0.0f));
                    const float alpha = coverage + under * (1 - coverage);
                    if (alpha <= 0) continue;
                    const float light = Clamp01(0.55f - (px + py) / 260 - inside / 80);
                    const float grain = Fractal(static_cast<float>(x) / 6, static_cast<float>(y) / 6, 3, s) - 0.5f;
                    float r = baseR * (0.5f + light) + grain * 40, g = baseG * (0.5f + light) + grain * 40,
                          b = baseB * (0.5f + light) + grain * 40;
                    // Under the shape: shadow black, glow the sprite's own colour.
                    const float shade = shadow >= glow ? 0.0f : 1.0f;
                    r = (r * coverage + baseR * shade * under * (1 - coverage)) / alpha;
                    g = (g * coverage + baseG * shade * under * (1 - coverage)) / alpha;
                    b = (b * coverage + baseB * shade * under * (1 - coverage)) / alpha;
                    row[4 * x] = Byte(r);
                    row[4 * x + 1] = Byte(g);
                    row[4 * x + 2] = Byte(b);
                    row[4 * x + 3] = Byte(alpha * 255);
                }
            }
        }
    }
    return image;
}

// A tiling decal (foliage, grime): noise colour everywhere, alpha from a
// second noise through a soft threshold, so about half the pixels are
// transparent but keep their colour (as painted textures do).
TRawImage MaskedTexture(uint32_t size, uint32_t seed) {
    TRawImage image = Blank(size, size);
    const float scale = 64;
    for (uint32_t y = 0; y < size; ++y) {
        uint8_t* row = image.Row(y);
        for (uint32_t x = 0; x < size; ++x) {
            const float fx = static_cast<float>(x) / scale, fy = static_cast<float>(y) / scale;
            const float tone = Fractal(fx, fy, 5, seed);
            const float detail = ValueNoise(fx * 16, fy * 16, seed + 7) - 0.5f;
            const float mask = Fractal(fx * 0.7f, fy * 0.7f, 4, seed + 33);
            row[4 * x] = Byte(60 + 120 * tone + 30 * detail);
            row[4 * x + 1] = Byte(90 + 140 * tone + 30 * detail);
            row[4 * x + 2] = Byte(30 + 60 * tone + 20 * detail);
            row[4 * x + 3] = Byte(255 * SmoothStep(0.45f, 0.55f, mask));
        }
    }
    return image;
}

// An opaque landscape "photograph": sky gradient over noise terrain, with fine
// grain of a few levels (the sensor noise that makes real photographs
// compress poorly in PNG).
TRawImage Photo(uint32_t width, uint32_t height, uint32_t seed) {
    TRawImage image = Blank(width, height);
    const float scale = static_cast<float>(width) / 6;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = image.Row(y);
        const float v = static_cast<float>(y) / static_cast<float>(height);
        for (uint32_t x = 0; x < width; ++x) {
            const float fx = static_cast<float>(x) / scale, fy = static_cast<float>(y) / scale;
            const float horizon = 0.45f + 0.15f * (Fractal(fx * 0.5f, 0.0f, 4, seed) - 0.5f);
            const float grain = (Unit(Hash(x, y, seed + 99)) - 0.5f) * 10;
            float r, g, b;
            if (v < horizon) {
                const float cloud = SmoothStep(0.5f, 0.8f, Fractal(fx, fy * 2, 5, seed + 5));
                r = 90 + 80 * v + 120 * cloud;
                g = 140 + 60 * v + 100 * cloud;
                b = 220 - 20 * v + 30 * cloud;
            } else {
                const float ground = Fractal(fx * 2, fy * 2, 6, seed + 11);
                const float rock = SmoothStep(0.55f, 0.65f, Fractal(fx, fy, 3, seed + 17));
                const float depth = (v - horizon) / (1 - horizon);
                r = (60 + 90 * ground) * (1 - rock) + (120 + 60 * ground) * rock;
                g = (90 + 110 * ground) * (1 - rock) + (115 + 55 * ground) * rock;
                b = (40 + 50 * ground) * (1 - rock) + (105 + 50 * ground) * rock;
                r *= 0.7f + 0.3f * depth;
                g *= 0.7f + 0.3f * depth;
                b *= 0.7f + 0.3f * depth;
            }
            row[4 * x] = Byte(r + grain);
            row[4 * x + 1] = Byte(g + grain);
            row[4 * x + 2] = Byte(b + grain);
            row[4 * x + 3] = 255;
        }
    }
    return image;
}

TRawImage WithoutAlpha(const TRawImage& image) {
    // Flattened over mid grey, as an artist's export without alpha would be.
    TRawImage out;
    out.Width = image.Width;
    out.Height = image.Height;
    out.Channels = 3;
    out.Pixels.resize(size_t{image.Width} * image.Height * 3);
    for (size_t i = 0, n = size_t{image.Width} * image.Height; i < n; ++i) {
        const unsigned a = image.Pixels[4 * i + 3];
        for (int c = 0; c < 3; ++c)
            out.Pixels[3 * i + c] = static_cast<uint8_t>((image.Pixels[4 * i + c] * a + 128u * (255 - a) + 127) / 255);
    }
    return out;
}

struct TPicture {
    std::string Name;
    TRawImage Image;
};

void WriteEveryFormat(const fs::path& out, const TPicture& picture) {
    const std::string name = picture.Name;
    WritePngFile((out / "png32" / (name + ".png")).string(), picture.Image);
    WriteTgaFile((out / "tga32" / (name + ".tga")).string(), picture.Image, TTgaCompression::None);
    WriteTgaFile((out / "tgarle" / (name + ".tga")).string(), picture.Image, TTgaCompression::Rle);
    WriteBmpFile((out / "bmp32" / (name + ".bmp")).string(), picture.Image);
    const TRawImage flat = WithoutAlpha(picture.Image);
    WritePngFile((out / "png24" / (name + ".png")).string(), flat);
    WriteJpegFile((out / "jpeg" / (name + ".jpg")).string(), flat, 90);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: corpus_maker OUT_FOLDER\n");
        return 2;
    }
    try {
        const fs::path out = argv[1];
        for (const char* set : {"png32", "png24", "tga32", "tgarle", "bmp32", "jpeg", "folder40"})
            fs::create_directories(out / set);

        // 5.6 megapixels per set, sized so that make bench (seven tools, five
        // runs each) stays within its time on two cores: 4.6 in sprite sheets,
        // 0.3 in textures, 0.5 in photographs (textures and photographs cost
        // a PNG encoder four times what a sprite sheet does per pixel).
        const std::vector<std::pair<std::string, std::function<TRawImage()>>> pictures = {
            {"sprite_0256", [] { return SpriteSheet(1, 1); }},
            {"sprite_0512", [] { return SpriteSheet(2, 3); }},
            {"sprite_2048", [] { return SpriteSheet(8, 5); }},
            {"texture_0256", [] { return MaskedTexture(256, 6); }},
            {"texture_0512", [] { return MaskedTexture(512, 7); }},
            {"photo_0256", [] { return Photo(256, 256, 10); }},
            {"photo_0768", [] { return Photo(768, 512, 11); }},
        };
        for (const auto& [name, make] : pictures) WriteEveryFormat(out, {name, make()});

        // Worker scaling: 40 files of 256 to 640 pixels a side, of all three kinds.
        const uint32_t sides[] = {512, 256, 384, 256, 640, 320, 448, 256};
        for (uint32_t i = 0; i < 40; ++i) {
            const uint32_t side = sides[i % 8];
            TRawImage image = i % 3 == 0   ? SpriteSheet(side >= 512 ? side / 256 : 1, 100 + i)
                              : i % 3 == 1 ? MaskedTexture(side, 100 + i)
                                           : Photo(side, side * 3 / 4, 100 + i);
            char name[32];
            std::snprintf(name, sizeof name, "file_%02u.tga", i);
            WriteTgaFile((out / "folder40" / name).string(), image, TTgaCompression::None);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "corpus_maker: %s\n", error.what());
        return 1;
    }
    return 0;
}
