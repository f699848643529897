// The rasteriser's bilinear additive quad against pixman drawing the same picture: the
// texture scaled by a bilinear affine transform, tinted through a solid component-alpha mask
// and added to a 5-6-5 target (PIXMAN_OP_ADD), both in turn in the same run.
#include "Headline.h"
#include "QuadScene.h"

#include <benchmark/benchmark.h>
#include <pixman.h>

using namespace quad;

namespace {

struct PixmanQuad {
    std::vector<std::uint32_t> texels;
    std::vector<std::uint16_t> target = std::vector<std::uint16_t>(kSize * kSize);
    pixman_image_t* source = nullptr;
    pixman_image_t* tint = nullptr;
    pixman_image_t* destination = nullptr;

    PixmanQuad() {
        // Premultiplied: the keyed black texels become fully transparent.
        const auto pixels = TexturePixels();
        for (std::uint16_t p : pixels)
            texels.push_back(p == pixels[0] ? 0u : Widen(p));
        source = pixman_image_create_bits(PIXMAN_a8r8g8b8, kTexture, kTexture, texels.data(),
                                          kTexture * 4);
        pixman_transform_t scale;
        pixman_transform_init_scale(&scale, pixman_double_to_fixed(double(kTexture) / kSize),
                                    pixman_double_to_fixed(double(kTexture) / kSize));
        // Our pixel centres sit on integer coordinates, pixman's half a pixel further on.
        scale.matrix[0][2] = scale.matrix[1][2] = pixman_double_to_fixed(-0.5 * kTexture / kSize);
        pixman_image_set_transform(source, &scale);
        pixman_image_set_filter(source, PIXMAN_FILTER_BILINEAR, nullptr, 0);
        pixman_image_set_repeat(source, PIXMAN_REPEAT_NORMAL);
        const pixman_color_t color{0xC0C0, 0xA0A0, 0x8080, 0xFFFF};
        tint = pixman_image_create_solid_fill(&color);
        pixman_image_set_component_alpha(tint, 1);
        destination =
            pixman_image_create_bits(PIXMAN_r5g6b5, kSize, kSize,
                                     reinterpret_cast<std::uint32_t*>(target.data()), kSize * 2);
    }
    ~PixmanQuad() {
        pixman_image_unref(destination);
        pixman_image_unref(tint);
        pixman_image_unref(source);
    }
    void Draw() {
        pixman_image_composite32(PIXMAN_OP_ADD, source, tint, destination, 0, 0, 0, 0, 0, 0, kSize,
                                 kSize);
    }
    std::vector<std::uint32_t> Picture() {
        std::fill(target.begin(), target.end(), 0);
        Draw();
        std::vector<std::uint32_t> out;
        for (std::uint16_t p : target)
            out.push_back(Widen(p));
        return out;
    }
};

void BM_QuadVsPixman(benchmark::State& state) {
    Scene scene;
    PixmanQuad pixman;
    if (!SamePicture(OurPicture(), pixman.Picture())) {
        state.SkipWithError("pixman draws another picture");
        return;
    }
    double ours = 0, theirs = 0;
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        DrawQuad(scene);
        const double t1 = ThreadSeconds();
        pixman.Draw();
        const double t2 = ThreadSeconds();
        ours += t1 - t0;
        theirs += t2 - t1;
        benchmark::DoNotOptimize(scene.target.data());
        benchmark::DoNotOptimize(pixman.target.data());
    }
    const double pixels = double(state.iterations()) * kSize * kSize / 1e6;
    state.counters["speed_ratio"] = theirs / ours;
    state.counters["ours_mpix_per_s"] = pixels / ours;
    state.counters["pixman_mpix_per_s"] = pixels / theirs;
}
BENCHMARK(BM_QuadVsPixman)->Unit(benchmark::kMillisecond);

} // namespace

static bench::RegisterHeadline
    pixmanRatio("BM_QuadVsPixman", {"ratio.quad_vs_pixman", bench::Figure::Counter, "speed_ratio"});
static bench::RegisterHeadline pixmanFill("BM_QuadVsPixman",
                                          {"mpix.pixman_quad_add", bench::Figure::Counter,
                                           "pixman_mpix_per_s"});
