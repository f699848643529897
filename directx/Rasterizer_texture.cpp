#include "Rasterizer_stages.h"

#include <bit>

namespace directx::raster {

std::array<DWORD, 256> OpaquePalette(const DWORD* palette) {
    std::array<DWORD, 256> colors{};
    for (int i = 0; i < 256; ++i)
        colors[i] = 0xFF000000u | ((palette ? palette[i] : CubeColor(i)) & 0xFFFFFF);
    return colors;
}

bool TexelImage::Matches(const RasterTexture& t, bool keyOn) const {
    if (t.bits != source.bits || t.pitch != source.pitch || t.width != source.width ||
        t.height != source.height || !(t.format == source.format) || keyOn != keyed ||
        t.version != source.version)
        return false;
    if (keyOn && (t.keyLow != source.keyLow || t.keyHigh != source.keyHigh))
        return false;
    if (t.format.Palettized() && palette != OpaquePalette(t.palette))
        return false;
    if (t.version != 0)
        return true;
    const std::size_t rowBytes = RowBytes();
    for (int y = 0; y < t.height; ++y)
        if (std::memcmp(raw.data() + y * rowBytes, t.bits + std::ptrdiff_t{y} * t.pitch,
                        rowBytes) != 0)
            return false;
    return true;
}
void TexelImage::Build(const RasterTexture& t, bool keyOn) {
    source = t;
    keyed = keyOn;
    palette = OpaquePalette(t.palette);
    const int bytes = t.format.BytesPerPixel();
    const std::size_t rowBytes = RowBytes();
    raw.resize(t.version == 0 ? rowBytes * t.height : 0);
    argb.resize(static_cast<std::size_t>(t.width) * t.height);
    anyTransparent = false;
    hasAlpha = !t.format.Palettized() && t.format.alphaMask != 0;
    transparent.assign(keyOn && hasAlpha ? argb.size() : 0, 0);
    const ColorConverter codec(t.format);
    const DWORD colorBits = t.format.ColorBits();
    for (int y = 0; y < t.height; ++y) {
        const BYTE* row = t.bits + std::ptrdiff_t{y} * t.pitch;
        if (!raw.empty())
            std::memcpy(raw.data() + y * rowBytes, row, rowBytes);
        for (int x = 0; x < t.width; ++x) {
            const std::uint32_t pixel = LoadPixel(row + x * bytes, bytes);
            const std::size_t i = static_cast<std::size_t>(y) * t.width + x;
            argb[i] = t.format.Palettized() ? palette[pixel & 0xFF] : codec.ToArgb(pixel);
            if (keyOn) {
                const DWORD v = pixel & colorBits;
                if (v >= (t.keyLow & colorBits) && v <= (t.keyHigh & colorBits)) {
                    if (hasAlpha)
                        transparent[i] = 1;
                    else
                        argb[i] = 0;
                    anyTransparent = true;
                }
            }
        }
    }
    padded.clear();
    if (std::has_single_bit(unsigned(t.width)) && std::has_single_bit(unsigned(t.height)) &&
        t.width <= 65536 && t.height <= 65536) {
        const std::size_t w = t.width, h = t.height;
        padded.resize((w + 1) * (h + 1));
        for (std::size_t y = 0; y <= h; ++y) {
            const std::uint32_t* from = argb.data() + (y % h) * w;
            std::uint32_t* to = padded.data() + y * (w + 1);
            std::memcpy(to, from, w * 4);
            to[w] = from[0];
        }
    }
}

const TexelImage& TextureCache::For(const RasterTexture& t, bool keyOn) {
    for (auto it = textures_.begin(); it != textures_.end(); ++it) {
        if (it->source.bits != t.bits)
            continue;
        if (!it->Matches(t, keyOn))
            it->Build(t, keyOn);
        textures_.splice(textures_.begin(), textures_, it);
        return textures_.front();
    }
    constexpr std::size_t kKept = 16;
    if (textures_.size() >= kKept)
        textures_.pop_back();
    textures_.emplace_front();
    textures_.front().Build(t, keyOn);
    return textures_.front();
}

} // namespace directx::raster
