#pragma once
// The test scene's pictures, drawn from code so that they can be made again byte for byte:
// two tiles that repeat seamlessly, the boss and the sprite sheet.
#include <cstdint>
#include <string>
#include <vector>

struct Rgb {
    std::uint8_t R = 0;
    std::uint8_t G = 0;
    std::uint8_t B = 0;
    bool operator==(const Rgb&) const = default;
};

// A picture with a transparency mask. Transparent pixels are written as pure black, the
// scene's colour key; opaque ones never as a colour that a 16-bit 5-6-5 surface turns to 0.
class Picture {
public:
    Picture(int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Opaque(int x, int y) const { return Inside(x, y) && opaque_[Index(x, y)]; }
    // The colour as written: black where transparent, lifted clear of black elsewhere.
    Rgb At(int x, int y) const;
    // Outside the picture nothing happens.
    void Set(int x, int y, Rgb colour);
    void Erase(int x, int y);

    // A 24-bit uncompressed BMP file, rows bottom-up.
    std::vector<std::uint8_t> EncodeBmp() const;

private:
    bool Inside(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
    std::size_t Index(int x, int y) const { return std::size_t(y) * width_ + x; }

    int width_;
    int height_;
    std::vector<Rgb> pixels_;
    std::vector<bool> opaque_;
};

// The darkest colour an opaque pixel is given: every channel of it survives the 5-6-5
// packing (R and B keep 3 bits of 8, G keeps 2), however that packing rounds.
inline constexpr Rgb kDarkestOpaque{16, 16, 24};

Picture DrawFloorTile();   // "samp4.bmp": 100 x 100 deck plating, the bottom layer
Picture DrawCloudTile();   // "samp3.bmp": 100 x 100 clouds over transparent gaps, the top layer
Picture DrawBoss();        // "boss2.bmp": 256 x 256 boss ship, transparent around it
Picture DrawSpriteSheet(); // "samp5.bmp": six 32 x 32 sprites in a row, 192 x 32

struct ScenePicture {
    std::string FileName;
    Picture (*Draw)();
};
// In the order the scene loads them.
const std::vector<ScenePicture>& ScenePictures();
