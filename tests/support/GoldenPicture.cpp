#include "support/GoldenPicture.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "gui/Bitmap.h"
#include "gui/BmpEncode.h"
#include "gui/Exception.h"
#include "support/TestFiles.h"

namespace testsupport {

namespace {

int ChannelDifference(uint32_t a, uint32_t b) {
    int worst = 0;
    for (int shift = 0; shift <= 16; shift += 8)
        worst = std::max(worst, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
    return worst;
}

}  // namespace

::testing::AssertionResult MatchesGolden(const std::string& name, int width, int height,
                                         const std::function<uint32_t(int x, int y)>& xrgbAt, int tolerance) {
    namespace fs = std::filesystem;
    const fs::path golden = fs::path(GLIMSTEP_GOLDEN_DIR) / (name + ".bmp");
    const std::vector<uint8_t> actual = gui::EncodeBmp24(width, height, [&](int x, int y) { return xrgbAt(x, y) & 0xFFFFFF; });
    const char* update = std::getenv("GLIMSTEP_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        fs::create_directories(golden.parent_path());
        WriteFile(golden, actual);
        return ::testing::AssertionSuccess() << "wrote " << golden;
    }

    gui::Bitmap expected;
    try {
        expected.LoadFromFile(golden.string());
    } catch (const gui::Exception& e) {
        return ::testing::AssertionFailure() << golden << ": " << e.what()
                                             << " (GLIMSTEP_UPDATE_GOLDEN=1 writes it)";
    }
    std::ostringstream problem;
    int differing = 0;
    if (expected.Width() != width || expected.Height() != height) {
        problem << "the golden picture is " << expected.Width() << "x" << expected.Height() << ", not " << width << "x"
                << height;
    } else {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const uint32_t want = expected.Pixel(x, y) & 0xFFFFFF, got = xrgbAt(x, y) & 0xFFFFFF;
                if (ChannelDifference(want, got) <= tolerance) continue;
                if (differing++ == 0)
                    problem << "first at (" << x << "," << y << "): " << std::hex << got << " instead of " << want << std::dec;
            }
        if (differing == 0) return ::testing::AssertionSuccess();
        problem << "; " << differing << " pixels differ by more than " << tolerance;
    }
    const fs::path out = fs::path(GLIMSTEP_BINARY_DIR) / "golden-mismatch";
    fs::create_directories(out);
    WriteFile(out / (name + ".actual.bmp"), actual);
    fs::copy_file(golden, out / (name + ".golden.bmp"), fs::copy_options::overwrite_existing);
    return ::testing::AssertionFailure() << name << ": " << problem.str() << "; both pictures are in " << out;
}

}  // namespace testsupport
