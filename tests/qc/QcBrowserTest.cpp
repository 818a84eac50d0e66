#include "HeadlessBrowser.h"
#include "PngImage.h"
#include "qc/QualityCheck.h"
#include "support/TempDir.h"
#include "support/WavFixture.h"

#include <cmath>
#include <gtest/gtest.h>
#include <set>

// The page in a real browser, from the file system: every picture loads, the console stays
// quiet, nothing scrolls sideways at a desktop's or a phone's width, and it shows something.
namespace tarnvel::qc {
namespace {

namespace fs = std::filesystem;
using qc::test::HeadlessBrowser;
using qc::test::PngImage;
using tarnvel::test::TempDir;
using tarnvel::test::WavFixture;

// Two short files of a tone, one with a long name, with errors and IDs, as an archive's page.
std::string makePage(const TempDir& dir)
{
    const std::vector<std::string> names = {
        "tape 01.WAV", "tape02_a_very_long_name_without_any_blank_that_must_wrap_on_a_phone.WAV"};
    ArchiveSummary summary;
    summary.label = "T017 Concert, 12 May 1994";
    summary.drive = "[0:4] TARNVEL DAT SIMULATOR 1.00";
    summary.program = "Tarnvel 0.1.0";
    summary.started = "2026-12-10 15:56:22";
    summary.ended = "2026-12-10 15:57:01";
    summary.outcome = "stopped at the END ID";
    for (std::size_t i = 0; i < names.size(); ++i) {
        WavFixture w;
        w.rate = 48000;
        for (int n = 0; n < 5 * 48000; ++n)
            for (int c = 0; c < 2; ++c) {
                const auto v = static_cast<std::int16_t>(
                    std::lround(8000 * std::sin(n * (0.05 + 0.02 * c)) * (n % 48000) / 48000.0));
                w.data.push_back(static_cast<std::uint8_t>(v));
                w.data.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
            }
        w.write(dir.file(names[i]));
        ArchivedFile f;
        f.name = dir.file(names[i]);
        f.parts = {f.name};
        f.programText = std::to_string(i + 1);
        f.startAbs = 66 + static_cast<int>(i) * 167;
        f.frames = 167;
        f.seconds = 5;
        f.startText = absFramesText(f.startAbs);
        f.idsKnown = true;
        f.ids = {{static_cast<int>(i) + 1, f.startAbs}, {dat::kPNoSkip, f.startAbs + 100}};
        for (int k = 0; k < 30; ++k)
            f.errors.push_back({f.startAbs + 40 + 3 * k, k % 2 == 0, k % 3 == 0});
        f.errorsLeft = 15;
        f.errorsRight = 10;
        summary.files.push_back(f);
    }
    QcOptions options;
    const std::vector<FileAnalysis> analyses = analyseArchive(summary, options);
    PageHeader header{summary.label, "tape.log", "Tarnvel 0.1.0", "2026-12-10 15:57:02"};
    std::string error;
    EXPECT_TRUE(writeQcPage(dir.file("tape"), summary, analyses, header, options, error)) << error;
    return qcPagePath(dir.file("tape"));
}

// Something is drawn: many colours, not a blank window.
void expectNotBlank(const fs::path& png)
{
    const PngImage image(png.string());
    ASSERT_TRUE(image.ok()) << png;
    std::set<std::uint32_t> colours;
    int inked = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) {
            colours.insert(image.at(x, y));
            inked += image.at(x, y) != 0xFFFFFF;
        }
    EXPECT_GT(colours.size(), 50u) << png;
    EXPECT_GT(inked, image.width() * image.height() / 4 / 20) << png;
}

TEST(QcBrowser, ThePageLoadsWholeAtDesktopAndPhoneWidth)
{
    if (HeadlessBrowser::program().empty())
        GTEST_SKIP() << "Chromium is not installed (tools/setup.sh installs it)";
    TempDir dir;
    const std::string page = makePage(dir);
    HeadlessBrowser browser(dir.path() / "browser");
    ASSERT_TRUE(browser.open()) << browser.error();

    // Pictures that did not load have no natural size; text that does not fit widens the page.
    const std::string check =
        "(() => { const imgs = [...document.images];"
        " const broken = imgs.filter(i => !i.complete || i.naturalWidth === 0).length;"
        " const e = document.documentElement;"
        " return 'images=' + imgs.length + ' broken=' + broken +"
        " ' wider=' + (e.scrollWidth > e.clientWidth); })()";
    const struct {
        const char* name;
        int width, height;
        bool mobile;
    } windows[] = {{"desktop", 1280, 900, false}, {"phone", 390, 844, true}};
    for (const auto& w : windows) {
        SCOPED_TRACE(w.name);
        ASSERT_TRUE(browser.setWindow(w.width, w.height, w.mobile)) << browser.error();
        ASSERT_TRUE(browser.navigate("file://" + urlPath(page))) << browser.error();
        std::string result;
        ASSERT_TRUE(browser.evaluate(check, result)) << browser.error();
        EXPECT_EQ(result, "images=4 broken=0 wider=false");
        const fs::path shot = dir.path() / (std::string(w.name) + ".png");
        ASSERT_TRUE(browser.screenshot(shot)) << browser.error();
        expectNotBlank(shot);
    }
    EXPECT_EQ(browser.consoleErrors(), std::vector<std::string>{});
}

} // namespace
} // namespace tarnvel::qc
