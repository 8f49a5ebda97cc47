#include "tools/WaveInfo.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "common/Bytes.h"
#include "support/TestSupport.h"
#include "tools/WaveListRow.h"

namespace edog {
namespace {

using test::TempDir;
using Bytes = std::vector<uint8_t>;

Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

Bytes Chunk(const char* id, const Bytes& data, uint32_t declaredSize) {
  Bytes c(id, id + 4);
  const Bytes size = Le32(declaredSize);
  c.insert(c.end(), size.begin(), size.end());
  c.insert(c.end(), data.begin(), data.end());
  return c;
}
Bytes Chunk(const char* id, const Bytes& data) { return Chunk(id, data, uint32_t(data.size())); }

Bytes FormatData(uint16_t channels, uint32_t rate) {
  Bytes d = {1, 0, uint8_t(channels), uint8_t(channels >> 8)};
  for (uint8_t b : Le32(rate)) d.push_back(b);
  for (uint8_t b : Le32(rate * 2 * channels)) d.push_back(b);
  d.insert(d.end(), {uint8_t(2 * channels), 0, 16, 0});
  return d;
}

Bytes Riff(const std::vector<Bytes>& chunks, const char* riff = "RIFF", const char* wave = "WAVE") {
  Bytes body(wave, wave + 4);
  for (const auto& c : chunks) body.insert(body.end(), c.begin(), c.end());
  Bytes file(riff, riff + 4);
  for (uint8_t b : Le32(uint32_t(body.size()))) file.push_back(b);
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

// A canonical 44-byte-header file with `samples` 16-bit samples per channel.
Bytes Canonical(uint16_t channels, uint32_t rate, size_t samples) {
  return Riff({Chunk("fmt ", FormatData(channels, rate)),
               Chunk("data", Bytes(samples * 2 * channels, 0x11))});
}

class WaveFiles : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& data) {
    const std::string path = dir_ / name;
    test::WriteFile(path, data);
    return path;
  }
  TempDir dir_;
};

TEST_F(WaveFiles, CanonicalFile) {
  const Bytes wav = Canonical(1, 16000, 16000);
  ASSERT_EQ(wav.size(), 32044u);
  ASSERT_EQ(GetLE32(&wav[24]), 16000u);  // the rate stands at offset 24
  const std::string path = Write("voice.wav", wav);
  EXPECT_EQ(ReadSampleRate(path), 16000);
  EXPECT_EQ(ReadChannelCount(path), 1);
  EXPECT_EQ(ReadChannelCount(Write("st.wav", Canonical(2, 8000, 10))), 2);
}

TEST_F(WaveFiles, ChunkWalkTakesSizesAsStored) {
  // A 26-byte LIST chunk first: "fmt " at 46, its rate at 58.
  const Bytes list = Riff({Chunk("LIST", Bytes(26, 'L')), Chunk("fmt ", FormatData(1, 22050))});
  ASSERT_EQ(std::string(list.begin() + 46, list.begin() + 50), "fmt ");
  ASSERT_EQ(GetLE32(&list[58]), 22050u);
  EXPECT_EQ(ReadSampleRate(Write("list.wav", list)), 22050);
  // A list chunk whose bytes would read as "stereo" at offset 22 does not fool the
  // channel count.
  Bytes decoy(26, 0);
  decoy[22 - 20] = 2;
  EXPECT_EQ(ReadChannelCount(Write("decoy.wav", Riff({Chunk("LIST", decoy),
                                                    Chunk("fmt ", FormatData(1, 8000))}))),
            1);

  // An odd chunk of 25 bytes with "fmt " right after it, at 45: no pad byte assumed.
  const Bytes odd = Riff({Chunk("junk", Bytes(25, 'j')), Chunk("fmt ", FormatData(1, 11025))});
  ASSERT_EQ(std::string(odd.begin() + 45, odd.begin() + 49), "fmt ");
  EXPECT_EQ(ReadSampleRate(Write("odd.wav", odd)), 11025);
  // With the pad byte that RIFF writers add, the walk lands off the chunk grid and runs
  // out of file.
  Bytes padded = Chunk("junk", Bytes(25, 'j'));
  padded.push_back(0);
  EXPECT_THROW(ReadSampleRate(Write("pad.wav", Riff({padded, Chunk("fmt ", FormatData(1, 8000))}))),
               WaveFormatError);
}

TEST_F(WaveFiles, FormatErrors) {
  const Bytes fmt = Chunk("fmt ", FormatData(1, 8000));
  const Bytes canonical = Canonical(1, 8000, 0);
  const std::vector<std::pair<const char*, Bytes>> bad = {
      {"rifx", Riff({fmt}, "RIFX")},
      {"avi", Riff({fmt}, "RIFF", "AVI ")},
      {"lowercase", Riff({fmt}, "riff")},
      {"short", Bytes{'R', 'I', 'F', 'F', 0, 0}},
      {"no-fmt", Riff({Chunk("data", Bytes(100, 1))})},
      {"header-only", Riff({})},
      {"past-end", Riff({Chunk("LIST", Bytes(10, 0), 5000), fmt})},
      // 12 + 8 + 0xFFFFFFF4 wraps to 8 in 32 bits: the walk must not loop.
      {"wrap", Riff({Chunk("LIST", Bytes(4, 0), 0xFFFFFFF4u), fmt})},
      {"fmt-cut", Bytes(canonical.begin(), canonical.begin() + 26)},
      {"id-cut", Bytes(canonical.begin(), canonical.begin() + 18)},
  };
  for (const auto& [name, data] : bad) {
    const std::string path = Write(std::string(name) + ".wav", data);
    EXPECT_THROW(ReadSampleRate(path), WaveFormatError) << name;
    EXPECT_THROW(ReadChannelCount(path), WaveFormatError) << name;
  }
  // The rate needs only its own bytes: a format chunk cut right after them is read.
  const Bytes full = Canonical(1, 44100, 0);
  EXPECT_EQ(ReadSampleRate(Write("cut28.wav", Bytes(full.begin(), full.begin() + 28))), 44100);
}

TEST_F(WaveFiles, EmptyMissingAndSpecialFiles) {
  EXPECT_EQ(ReadSampleRate(Write("empty.wav", {})), -1);
  EXPECT_THROW(ReadSampleRate(dir_ / "missing.wav"), WaveFileError);
  std::filesystem::create_directory(dir_ / "folder.wav");
  EXPECT_THROW(ReadSampleRate(dir_ / "folder.wav"), WaveFileError);
#ifndef _WIN32  // FIFOs in the file system are POSIX's
  // A FIFO with no writer is refused at once instead of blocking.
  ASSERT_EQ(mkfifo((dir_ / "pipe.wav").c_str(), 0600), 0);
  EXPECT_THROW(ReadSampleRate(dir_ / "pipe.wav"), WaveFileError);
#endif
}

TEST_F(WaveFiles, WaveInfoObject) {
  CWaveInfo fresh;
  EXPECT_EQ(fresh.Path(), "");
  EXPECT_EQ(fresh.DisplayName(), "");
  EXPECT_EQ(fresh.CompressionBits(), 4);
  EXPECT_EQ(fresh.SampleRate(), 8000);
  CWaveInfo named("C:\\voice\\Hello.Wav");
  EXPECT_EQ(named.DisplayName(), "Hello.Wav");
  EXPECT_EQ(named.SampleRate(), 8000);

  CWaveInfo working;
  working.SetCompressionBits(3);
  const std::string a = Write("a.wav", Canonical(1, 16000, 4));
  working.SetFile(a);
  EXPECT_EQ(working.Path(), a);
  EXPECT_EQ(working.DisplayName(), "a.wav");
  EXPECT_EQ(working.SampleRate(), 16000);
  EXPECT_EQ(working.CompressionBits(), 3);  // never touched by the reader
  working.SetFile(Write("e.wav", {}));
  EXPECT_EQ(working.SampleRate(), -1);
  // A failing file leaves the object as it was.
  working.SetFile(a);
  EXPECT_THROW(working.SetFile(Write("bad.wav", Riff({}, "RIFX"))), WaveFormatError);
  EXPECT_EQ(working.Path(), a);
  EXPECT_EQ(working.SampleRate(), 16000);
}

TEST_F(WaveFiles, ListRows) {
  CWaveInfo working;
  const std::string mono = Write("Hello.wav", Canonical(1, 16000, 16000));
  WaveListEntry e = MakeWaveListEntry(working, mono);
  ASSERT_EQ(e.kind, WaveListEntry::kAdded);
  EXPECT_EQ(e.row.name, "Hello.wav");
  EXPECT_EQ(e.row.freq, "16000");
  EXPECT_EQ(e.row.bits, "4");
  EXPECT_EQ(e.row.size, "32044");
  EXPECT_EQ(e.row.dir, mono);

  e = MakeWaveListEntry(working, Write("Two.wav", Canonical(2, 16000, 10)));
  EXPECT_EQ(e.kind, WaveListEntry::kStereo);
  EXPECT_EQ(e.message, "Two.wav : Stereo File is not supported.\nUse mono wave file.");
  // Three channels pass, as do empty files (rate -1).
  EXPECT_EQ(MakeWaveListEntry(working, Write("three.wav", Canonical(3, 8000, 1))).kind,
            WaveListEntry::kAdded);
  e = MakeWaveListEntry(working, Write("empty.wav", {}));
  ASSERT_EQ(e.kind, WaveListEntry::kAdded);
  EXPECT_EQ(e.row.freq, "-1");
  EXPECT_EQ(e.row.size, "0");

  const std::string rifx = Write("be.wav", Riff({}, "RIFX"));
  e = MakeWaveListEntry(working, rifx);
  EXPECT_EQ(e.kind, WaveListEntry::kUnreadable);
  EXPECT_EQ(e.message, rifx + ": not a RIFF/WAVE file");
  e = MakeWaveListEntry(working, dir_ / "gone.wav");
  EXPECT_EQ(e.kind, WaveListEntry::kUnreadable);
  EXPECT_EQ(e.message, (dir_ / "gone.wav") + ": cannot open the file");
}

// Every corpus file: RIFF/WAVE files agree with sox on rate and channels, the others are
// refused with the format error, none crashes.
TEST(WaveCorpus, AgreesWithSox) {
  const std::string soxi = "/usr/bin/soxi";
  const bool haveSox = test::HaveHostTool(soxi);
  size_t compared = 0;
  for (const auto& entry : std::filesystem::directory_iterator(test::CorpusDir() + "/wav")) {
    if (entry.path().extension() != ".wav") continue;
    const std::string path = entry.path().string();
    SCOPED_TRACE(path);
    const Bytes head = test::ReadFile(path);
    const bool riffWave = head.size() >= 12 && std::equal(head.begin(), head.begin() + 4, "RIFF") &&
                          std::equal(head.begin() + 8, head.begin() + 12, "WAVE");
    if (!riffWave) {
      EXPECT_THROW(ReadSampleRate(path), WaveFormatError);
      continue;
    }
    int rate = 0, channels = 0;
    try {
      rate = ReadSampleRate(path);
      channels = ReadChannelCount(path);
    } catch (const WaveFormatError&) {
      continue;  // no format chunk inside the file
    }
    if (!haveSox) continue;
    const auto r = test::RunProgram(soxi, {"-r", path});
    const auto c = test::RunProgram(soxi, {"-c", path});
    if (r.status != 0 || c.status != 0) continue;  // sox refuses some broken files
    EXPECT_EQ(std::to_string(rate) + "\n", r.out);
    EXPECT_EQ(std::to_string(channels) + "\n", c.out);
    ++compared;
  }
  if (haveSox) {
    EXPECT_GE(compared, 40u);
  }
  // Named cases of the corpus.
  const std::string wav = test::CorpusDir() + "/wav/";
  EXPECT_EQ(ReadSampleRate(wav + "goaudio_bwf.wav"), 44100);  // bext chunk first
  EXPECT_EQ(ReadSampleRate(wav + "goriff_junkKick.wav"), 44100);  // JUNK and bext first
  EXPECT_THROW(ReadSampleRate(wav + "hound_oom-48ae4cd061ff8578ad3f23dc87624bd365cf5216.wav"),
               WaveFormatError);
  EXPECT_THROW(ReadSampleRate(wav + "scipy_test-44100Hz-le-1ch-4bytes-incomplete-chunk.wav"),
               WaveFormatError);
  EXPECT_THROW(ReadSampleRate(wav + "scipy_test-44100Hz-le-1ch-4bytes-rf64.wav"),
               WaveFormatError);
}

}  // namespace
}  // namespace edog
