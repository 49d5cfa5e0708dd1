// Our stand-in for the GDI+ image calls the system makes. An Image reads a GIF file's blocks
// itself: its frames (image descriptors) make the time dimension, and the delays of its Graphic
// Control Extensions, in file order, make the frame-delay property (one 32-bit value in
// hundredths of a second per extension found: a file may carry fewer delays than frames).
// Pixels are never decoded; Graphics records what it is asked to draw.
// Thread rule: an Image or Graphics object belongs to one thread at a time; the start-up calls
// and the Probe functions may be called from any thread.
#pragma once

#include "win32/windows.h"

#include <algorithm>
#include <string>
#include <vector>

namespace Gdiplus {

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
inline bool operator==(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::equal(a.Data4, a.Data4 + 8, b.Data4);
}

extern const GUID FrameDimensionTime;
extern const GUID FrameDimensionPage;

typedef ULONG PROPID;
typedef int INT;
typedef uint32_t UINT32;
#define PropertyTagFrameDelay 0x5100
#define PropertyTagLoopCount 0x5101
#define PropertyTagTypeShort 3
#define PropertyTagTypeLong 4

enum Status {
  Ok = 0,
  GenericError = 1,
  InvalidParameter = 2,
  OutOfMemory = 3,
  ObjectBusy = 4,
  InsufficientBuffer = 5,
  NotImplemented = 6,
  Win32Error = 7,
  WrongState = 8,
  Aborted = 9,
  FileNotFound = 10,
  ValueOverflow = 11,
  AccessDenied = 12,
  UnknownImageFormat = 13,
  PropertyNotFound = 19,
};

struct PropertyItem {
  PROPID id;
  ULONG length;  // bytes of value
  WORD type;
  void* value;
};

struct GdiplusStartupInput {
  UINT32 GdiplusVersion = 1;
  void* DebugEventCallback = nullptr;
  BOOL SuppressBackgroundThread = FALSE;
  BOOL SuppressExternalCodecs = FALSE;
};

// Each successful start-up gives a new token; each token is shut down once.
Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, void* output);
void GdiplusShutdown(ULONG_PTR token);

class Image {
 public:
  // A path in UTF-16; '\' separators and names in another case are accepted as the platform's
  // file system accepts them. Files over 16 MiB are refused.
  explicit Image(const WCHAR* filename, BOOL useEmbeddedColorManagement = FALSE);
  ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  Status GetLastStatus() const { return status_; }
  UINT GetFrameDimensionsCount() const;  // 1 (time) for a readable GIF, else 0
  Status GetFrameDimensionsList(GUID* dimensionIDs, UINT count) const;
  UINT GetFrameCount(const GUID* dimensionID) const;
  UINT GetPropertyItemSize(PROPID propId) const;  // 0 when the image has no such property
  Status GetPropertyItem(PROPID propId, UINT propSize, PropertyItem* buffer) const;
  Status SelectActiveFrame(const GUID* dimensionID, UINT frameIndex);
  UINT GetWidth() const { return width_; }
  UINT GetHeight() const { return height_; }
  UINT GetActiveFrame() const { return activeFrame_; }  // (stand-in) the frame drawn next

 private:
  Status status_ = GenericError;
  UINT frames_ = 0;
  UINT width_ = 0, height_ = 0;
  UINT activeFrame_ = 0;
  std::vector<uint32_t> delays_;
};

class Graphics {
 public:
  explicit Graphics(HDC hdc) : hdc_(hdc) {}
  Status DrawImage(Image* image, INT x, INT y, INT width, INT height);
  Status GetLastStatus() const { return hdc_ ? Ok : InvalidParameter; }

 private:
  HDC hdc_;
};

// What the stand-in saw, for tests.
namespace Probe {
struct Draw {
  HDC hdc;
  INT x, y, width, height;
  UINT frame;  // the image's active frame when drawn
};
int liveTokens();
int startups();
int shutdowns();
std::vector<Draw> draws();
void reset();  // forgets the draws and the counts
// The bytes of a GIF with frames of width x height whose delays (hundredths of a second) come
// from delays; withGce[i] false leaves frame i without a Graphic Control Extension.
std::string makeGif(int width, int height, const std::vector<uint16_t>& delays,
                    const std::vector<bool>& withGce = {});
}  // namespace Probe

}  // namespace Gdiplus
