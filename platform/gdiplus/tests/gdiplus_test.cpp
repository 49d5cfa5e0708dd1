// Images from GIF files: frames, delays, bad files; start-up tokens; drawing records.
#include "gdiplus/gdiplus.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>

using namespace Gdiplus;

namespace {

struct TempGif {
  std::string path;
  explicit TempGif(const std::string& bytes, const std::string& name = "pic.gif") {
    char tmpl[] = "/tmp/pw_gdiplus_XXXXXX";
    dir = mkdtemp(tmpl);
    path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
  }
  ~TempGif() {
    unlink(path.c_str());
    rmdir(dir.c_str());
  }
  std::string dir;
};

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::vector<uint32_t> delaysOf(Image& img) {
  UINT size = img.GetPropertyItemSize(PropertyTagFrameDelay);
  if (size == 0) return {};
  std::vector<char> buf(size);
  auto* item = reinterpret_cast<PropertyItem*>(buf.data());
  EXPECT_EQ(Ok, img.GetPropertyItem(PropertyTagFrameDelay, size, item));
  std::vector<uint32_t> d(item->length / 4);
  memcpy(d.data(), item->value, item->length);
  return d;
}

TEST(GifImage, ReadsFramesAndDelaysOfARealGif) {
  TempGif gif(Probe::makeGif(4, 3, {0, 5, 20}));
  Image img(wide(gif.path).c_str());
  ASSERT_EQ(Ok, img.GetLastStatus());
  ASSERT_EQ(1u, img.GetFrameDimensionsCount());
  GUID dim;
  ASSERT_EQ(Ok, img.GetFrameDimensionsList(&dim, 1));
  EXPECT_TRUE(dim == FrameDimensionTime);
  EXPECT_EQ(3u, img.GetFrameCount(&dim));
  EXPECT_EQ(4u, img.GetWidth());
  EXPECT_EQ(3u, img.GetHeight());
  EXPECT_EQ((std::vector<uint32_t>{0, 5, 20}), delaysOf(img));
  EXPECT_EQ(Ok, img.SelectActiveFrame(&FrameDimensionTime, 2));
  EXPECT_EQ(InvalidParameter, img.SelectActiveFrame(&FrameDimensionTime, 3));
  EXPECT_EQ(2u, img.GetActiveFrame());
  std::vector<char> small(sizeof(PropertyItem));
  EXPECT_EQ(InvalidParameter, img.GetPropertyItem(PropertyTagFrameDelay, (UINT)small.size(),
                                                  reinterpret_cast<PropertyItem*>(small.data())));
}

TEST(GifImage, PathsWithBackslashesAndAnotherCase) {
  TempGif gif(Probe::makeGif(1, 1, {7}), "Loading.gif");
  std::string p = gif.dir + "\\LOADING.GIF";
  Image img(wide(p).c_str());
  EXPECT_EQ(Ok, img.GetLastStatus());
  EXPECT_EQ(1u, img.GetFrameCount(&FrameDimensionTime));
}

TEST(GifImage, BadPicturesTable) {
  std::string good = Probe::makeGif(2, 2, {3, 4});
  struct Case {
    const char* what;
    std::string bytes;
    Status status;
    UINT frames;
    size_t delays;
  } cases[] = {
      {"not a GIF", "\x89PNG\r\n\x1a\n0000000000000", UnknownImageFormat, 0, 0},
      {"header only", good.substr(0, 13), InvalidParameter, 0, 0},
      {"cut inside the first frame", good.substr(0, 60), InvalidParameter, 0, 0},
      {"no delay extensions", Probe::makeGif(2, 2, {1, 1}, {false, false}), Ok, 2, 0},
      {"fewer delays than frames", Probe::makeGif(2, 2, {9, 1, 1}, {true, false, false}), Ok, 3, 1},
      {"one frame", Probe::makeGif(2, 2, {6}), Ok, 1, 1},
      {"no trailer", good.substr(0, good.size() - 1), Ok, 2, 2},
      {"empty file", "", UnknownImageFormat, 0, 0},
  };
  for (const auto& c : cases) {
    TempGif gif(c.bytes);
    Image img(wide(gif.path).c_str());
    EXPECT_EQ(c.status, img.GetLastStatus()) << c.what;
    EXPECT_EQ(c.frames, img.GetFrameCount(&FrameDimensionTime)) << c.what;
    EXPECT_EQ(c.delays, delaysOf(img).size()) << c.what;
    if (c.status != Ok) {
      EXPECT_EQ(0u, img.GetFrameDimensionsCount()) << c.what;
      GUID g;
      EXPECT_EQ(InvalidParameter, img.GetFrameDimensionsList(&g, 1)) << c.what;
    }
  }
  Image missing(u"/no/such/dir/Loading.gif");
  EXPECT_EQ(FileNotFound, missing.GetLastStatus());
  EXPECT_EQ(0u, missing.GetPropertyItemSize(PropertyTagFrameDelay));
}

TEST(Startup, TokensAreCountedAndDrawingRecorded) {
  Probe::reset();
  GdiplusStartupInput in;
  ULONG_PTR a = 0, b = 0;
  ASSERT_EQ(Ok, GdiplusStartup(&a, &in, nullptr));
  ASSERT_EQ(Ok, GdiplusStartup(&b, &in, nullptr));
  EXPECT_NE(a, b);
  int live = Probe::liveTokens();
  GdiplusShutdown(a);
  GdiplusShutdown(a);  // once only
  EXPECT_EQ(live - 1, Probe::liveTokens());
  GdiplusShutdown(b);
  EXPECT_EQ(2, Probe::startups());
  EXPECT_EQ(2, Probe::shutdowns());

  TempGif gif(Probe::makeGif(5, 6, {1, 1}));
  Image img(wide(gif.path).c_str());
  img.SelectActiveFrame(&FrameDimensionTime, 1);
  HDC dc = reinterpret_cast<HDC>(0x1234);
  Graphics gr(dc);
  EXPECT_EQ(Ok, gr.DrawImage(&img, 10, 20, 5, 6));
  Graphics none(nullptr);
  EXPECT_EQ(InvalidParameter, none.DrawImage(&img, 0, 0, 5, 6));
  auto d = Probe::draws();
  ASSERT_EQ(1u, d.size());
  EXPECT_EQ(10, d[0].x);
  EXPECT_EQ(20, d[0].y);
  EXPECT_EQ(1u, d[0].frame);
}

}  // namespace
