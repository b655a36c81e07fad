#include "media/Wave.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <utility>

#include "support/TestFiles.h"

using media::TWave;
using testsupport::Bytes;

namespace {

Bytes FmtChunk(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
    Bytes b;
    const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    b.Text("fmt ").U32(16).U16(tag).U16(channels).U32(rate).U32(rate * align).U16(align).U16(bits);
    return b;
}

// RIFF header + the given chunks; the RIFF size is patched in but never checked by the reader.
std::vector<uint8_t> Riff(std::initializer_list<Bytes> chunks) {
    Bytes b;
    b.Text("RIFF").U32(0).Text("WAVE");
    for (const Bytes& c : chunks) b.Append(c.Data());
    b.PatchU32(4, static_cast<uint32_t>(b.Size() - 8));
    return b.Data();
}

Bytes DataChunk(std::initializer_list<uint8_t> bytes) {
    Bytes b;
    b.Text("data").U32(static_cast<uint32_t>(bytes.size()));
    for (uint8_t v : bytes) b.U8(v);
    return b;
}

TWave Load(const std::vector<uint8_t>& bytes) {
    TWave w;
    w.LoadFromMemory(bytes.data(), bytes.size());
    return w;
}

template <typename E>
std::string MessageOf(const std::vector<uint8_t>& bytes) {
    try {
        Load(bytes);
    } catch (const E& e) {
        return e.what();
    }
    return "(no error)";
}

}  // namespace

TEST(WaveReader, ReadsFormatAndDataOfAPlainFile) {
    const TWave w = Load(Riff({FmtChunk(1, 2, 22050, 16), DataChunk({1, 2, 3, 4, 5, 6, 7, 8})}));
    ASSERT_EQ(w.FormatSize(), 16u);
    EXPECT_EQ(w.Format().wFormatTag, 1);
    EXPECT_EQ(w.Format().nChannels, 2);
    EXPECT_EQ(w.Format().nSamplesPerSec, 22050u);
    EXPECT_EQ(w.Format().nBlockAlign, 4);
    ASSERT_EQ(w.Size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(w.Data(), w.Data() + 8), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(WaveReader, SkipsOtherChunksByTheirStoredSizeWithoutPadding) {
    Bytes list;
    list.Text("LIST").U32(10).Text("INFOISFT").U16(0);
    Bytes odd;
    odd.Text("junk").U32(3).U8(9).U8(9).U8(9);  // odd size: the next header follows at once
    const TWave w = Load(Riff({list, FmtChunk(1, 1, 8000, 8), odd, DataChunk({10, 20, 30})}));
    EXPECT_EQ(w.Format().nSamplesPerSec, 8000u);
    ASSERT_EQ(w.Size(), 3u);
    EXPECT_EQ(w.Data()[2], 30);

    // An odd-sized fmt chunk is taken whole, and a pad byte after it would be read as a header.
    Bytes fmt17;
    fmt17.Text("fmt ").U32(17).U16(1).U16(1).U32(8000).U32(8000).U16(1).U16(8).U8(0xAB);
    const TWave w2 = Load(Riff({fmt17, DataChunk({1})}));
    EXPECT_EQ(w2.FormatSize(), 17u);
    EXPECT_EQ(w2.FormatBlock().back(), 0xAB);
    EXPECT_EQ(w2.Size(), 1u);
}

TEST(WaveReader, MissingChunksGiveEmptyBlocks) {
    const TWave noFmt = Load(Riff({DataChunk({1, 2})}));
    EXPECT_EQ(noFmt.FormatSize(), 0u);
    EXPECT_EQ(noFmt.Size(), 2u);
    const TWave noData = Load(Riff({FmtChunk(1, 1, 44100, 16)}));
    EXPECT_EQ(noData.FormatSize(), 16u);
    EXPECT_EQ(noData.Size(), 0u);
    EXPECT_TRUE(Load({}).Empty());
}

TEST(WaveReader, RejectsFilesThatAreNotRiffWave) {
    EXPECT_EQ(MessageOf<media::EWaveStreamError>({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '}),
              "不正な Wave です");
    EXPECT_EQ(MessageOf<media::EWaveStreamError>({'R', 'I', 'F'}), "不正な Wave です");
    auto notRiff = Riff({FmtChunk(1, 1, 8000, 8)});
    notRiff[0] = 'X';
    EXPECT_EQ(MessageOf<media::EWaveStreamError>(notRiff), "不正な Wave です");
}

TEST(WaveReader, AFileThatEndsEarlyIsAStreamReadError) {
    auto shortData = Riff({FmtChunk(1, 1, 8000, 8), DataChunk({1, 2, 3, 4})});
    shortData.resize(shortData.size() - 1);
    EXPECT_EQ(MessageOf<gui::EReadError>(shortData), "ストリームからの読み込みエラー");
    auto shortFmt = Riff({FmtChunk(1, 1, 8000, 8)});
    shortFmt.resize(shortFmt.size() - 4);
    EXPECT_EQ(MessageOf<gui::EReadError>(shortFmt), "ストリームからの読み込みエラー");
    // A huge stated size must not be believed before the bytes are there.
    Bytes huge;
    huge.Text("data").U32(0xFFFFFFF0u);
    EXPECT_EQ(MessageOf<gui::EReadError>(Riff({FmtChunk(1, 1, 8000, 8), huge})), "ストリームからの読み込みエラー");
}

TEST(WaveReader, LoadsFromFilesAndReportsMissingOnes) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "a.wav", Riff({FmtChunk(1, 1, 11025, 8), DataChunk({7})}));
    TWave w;
    w.LoadFromFile((dir / "a.wav").string());
    EXPECT_EQ(w.Format().nSamplesPerSec, 11025u);
    EXPECT_THROW(w.LoadFromFile((dir / "missing.wav").string()), gui::EFOpenError);
    EXPECT_THROW(w.LoadFromFile(dir.Path().string()), gui::EFOpenError);
}

TEST(WaveData, GrowsInBlocksAndCopiesOnAssign) {
    TWave w;
    w.SetSize(1);
    EXPECT_EQ(w.Capacity(), 8096u);
    w.SetSize(8096);
    EXPECT_EQ(w.Capacity(), 8096u);
    w.SetSize(8097);
    EXPECT_EQ(w.Capacity(), 16192u);
    w.Data()[8096] = 42;
    media::TWaveFormatEx f;
    media::MakePcmFormat(f, 44100, 16, 2);
    EXPECT_EQ(f.nBlockAlign, 4);
    EXPECT_EQ(f.nAvgBytesPerSec, 176400u);
    w.SetFormat(f);

    TWave copy;
    copy.Assign(&w);
    EXPECT_EQ(copy.Size(), 8097u);
    EXPECT_EQ(copy.Data()[8096], 42);
    EXPECT_EQ(copy.FormatBlock(), w.FormatBlock());
    EXPECT_NE(copy.Revision(), w.Revision());
    copy.Assign(nullptr);
    EXPECT_TRUE(copy.Empty());
}

TEST(WaveData, NewBytesAreZeroAndASharedBlockNeverChangesUnderItsReader) {
    TWave w;
    const uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    w.SetData(bytes, sizeof bytes);
    w.SetSize(2);
    w.SetSize(6);
    EXPECT_EQ(std::vector<uint8_t>(w.Data(), w.Data() + 6), (std::vector<uint8_t>{1, 2, 0, 0, 0, 0}));

    w.SetData(bytes, sizeof bytes);
    const std::shared_ptr<const uint8_t[]> shared = w.SharedData();
    EXPECT_EQ(shared.get(), std::as_const(w).Data());
    w.Data()[0] = 9;
    w.SetSize(4);
    w.SetSize(6);
    EXPECT_EQ(std::vector<uint8_t>(shared.get(), shared.get() + 6), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(std::vector<uint8_t>(w.Data(), w.Data() + 6), (std::vector<uint8_t>{9, 2, 3, 4, 0, 0}));
}

TEST(WaveWriter, WritesWhatTheReaderReadsBackAndGuardsItsState) {
    testsupport::TempDir dir;
    const std::string path = (dir / "out.wav").string();
    {
        media::TWaveStream empty(path);
        EXPECT_THROW(empty.Open(), media::EWaveStreamError);  // no format
        EXPECT_THROW(empty.Write("x", 1), media::EWaveStreamError);
    }
    media::TWaveFormatEx f;
    media::MakePcmFormat(f, 44100, 16, 2);
    media::TWaveStream out(path);
    out.SetFormat(f);
    out.Open();
    try {
        out.Open();
        FAIL();
    } catch (const media::EWaveStreamError& e) {
        EXPECT_STREQ(e.what(), "ストリームはすでに開かれています");
    }
    const int16_t frames[4] = {1, -1, 1000, -1000};
    out.Write(frames, sizeof frames);
    out.Close();

    TWave w;
    w.LoadFromFile(path);
    EXPECT_EQ(w.Format().nSamplesPerSec, 44100u);
    ASSERT_EQ(w.Size(), sizeof frames);
    EXPECT_EQ(std::memcmp(w.Data(), frames, sizeof frames), 0);
}
