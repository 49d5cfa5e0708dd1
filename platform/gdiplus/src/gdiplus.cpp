// GIF block reading, images, drawing records.
#include "gdiplus/gdiplus.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <mutex>

namespace Gdiplus {

const GUID FrameDimensionTime = {0x6aedbd6d, 0x3fb5, 0x418a, {0x83, 0xa6, 0x7f, 0x45, 0x22, 0x9d, 0xc8, 0x72}};
const GUID FrameDimensionPage = {0x7462dc86, 0x6180, 0x4c7e, {0x8e, 0x3f, 0xee, 0x73, 0x33, 0xa7, 0xa4, 0x83}};

namespace {
const size_t kMaxImageBytes = 16 * 1024 * 1024;
const UINT kMaxFrames = 100000;

struct Record {
  std::mutex lock;  // guards every field
  ULONG_PTR nextToken = 1;
  std::vector<ULONG_PTR> live;
  int startups = 0, shutdowns = 0;
  std::vector<Probe::Draw> draws;
};
Record& record() {
  static Record* r = new Record();  // never destroyed
  return *r;
}

bool exists(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0;
}

// '\' to '/', and each missing component looked up without regard to ASCII case.
std::string mapPath(std::string p) {
  for (auto& c : p)
    if (c == '\\') c = '/';
  if (p.empty() || exists(p)) return p;
  std::string built = p[0] == '/' ? "/" : "";
  size_t pos = p[0] == '/' ? 1 : 0;
  while (pos <= p.size()) {
    size_t next = p.find('/', pos);
    std::string part = p.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
    pos = next == std::string::npos ? p.size() + 1 : next + 1;
    if (part.empty()) continue;
    std::string cand = built + part;
    if (!exists(cand)) {
      DIR* d = opendir(built.empty() ? "." : built.c_str());
      if (!d) return p;
      std::string found;
      while (dirent* e = readdir(d)) {
        if (strcasecmp(e->d_name, part.c_str()) == 0) {
          found = e->d_name;
          break;
        }
      }
      closedir(d);
      if (found.empty()) return p;
      cand = built + found;
    }
    built = cand;
    if (next != std::string::npos) built += '/';
  }
  return built;
}

// Skips a chain of data sub-blocks; false when the data ends first.
bool skipSubBlocks(const std::string& d, size_t& i) {
  while (true) {
    if (i >= d.size()) return false;
    size_t n = (unsigned char)d[i++];
    if (n == 0) return true;
    if (d.size() - i < n) return false;
    i += n;
  }
}

uint16_t le16(const std::string& d, size_t i) {
  return (uint16_t)((unsigned char)d[i] | ((unsigned char)d[i + 1] << 8));
}
}  // namespace

Status GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInput* input, void*) {
  if (!token || !input || input->GdiplusVersion != 1) return InvalidParameter;
  Record& r = record();
  std::lock_guard<std::mutex> g(r.lock);
  *token = r.nextToken++;
  r.live.push_back(*token);
  ++r.startups;
  return Ok;
}

void GdiplusShutdown(ULONG_PTR token) {
  Record& r = record();
  std::lock_guard<std::mutex> g(r.lock);
  auto it = std::find(r.live.begin(), r.live.end(), token);
  if (it == r.live.end()) return;
  r.live.erase(it);
  ++r.shutdowns;
}

Image::Image(const WCHAR* filename, BOOL) {
  if (!filename) {
    status_ = InvalidParameter;
    return;
  }
  int n = WideCharToMultiByte(CP_UTF8, 0, filename, -1, nullptr, 0, nullptr, nullptr);
  std::string path;
  if (n > 0) {
    path.resize((size_t)n);
    WideCharToMultiByte(CP_UTF8, 0, filename, -1, &path[0], n, nullptr, nullptr);
    path.resize(strlen(path.c_str()));
  }
  std::ifstream in(mapPath(path), std::ios::binary);
  if (!in) {
    status_ = FileNotFound;
    return;
  }
  std::string d;
  char buf[65536];
  while (in.read(buf, sizeof(buf)) || in.gcount() > 0) {
    d.append(buf, (size_t)in.gcount());
    if (d.size() > kMaxImageBytes) {
      status_ = OutOfMemory;
      return;
    }
  }
  if (d.size() < 13 || (d.compare(0, 6, "GIF87a") != 0 && d.compare(0, 6, "GIF89a") != 0)) {
    status_ = UnknownImageFormat;
    return;
  }
  UINT width = le16(d, 6), height = le16(d, 8);
  unsigned char packed = (unsigned char)d[10];
  size_t i = 13;
  if (packed & 0x80) i += 3u * (1u << ((packed & 7) + 1));
  UINT frames = 0;
  std::vector<uint32_t> delays;
  bool ended = false;
  while (!ended && i < d.size() && frames < kMaxFrames) {
    unsigned char block = (unsigned char)d[i++];
    if (block == 0x3B) {
      ended = true;
    } else if (block == 0x21) {
      if (i >= d.size()) break;
      unsigned char label = (unsigned char)d[i++];
      if (label == 0xF9 && i + 6 <= d.size() && (unsigned char)d[i] == 4) {
        delays.push_back(le16(d, i + 2));
        i += 5;  // size, packed, delay (2), transparent index
      }
      if (!skipSubBlocks(d, i)) break;
    } else if (block == 0x2C) {
      if (d.size() - i < 10) break;
      unsigned char ip = (unsigned char)d[i + 8];
      i += 9;
      if (ip & 0x80) i += 3u * (1u << ((ip & 7) + 1));
      if (i >= d.size()) break;
      ++i;  // LZW minimum code size
      if (!skipSubBlocks(d, i)) break;
      ++frames;
    } else {
      status_ = InvalidParameter;  // not a GIF block
      return;
    }
  }
  if (frames == 0) {
    status_ = InvalidParameter;
    return;
  }
  // A file cut after complete frames still shows those frames.
  status_ = Ok;
  frames_ = frames;
  width_ = width;
  height_ = height;
  delays_ = delays;
}

Image::~Image() = default;

UINT Image::GetFrameDimensionsCount() const { return status_ == Ok ? 1 : 0; }

Status Image::GetFrameDimensionsList(GUID* ids, UINT count) const {
  if (!ids || count != GetFrameDimensionsCount() || count == 0) return InvalidParameter;
  ids[0] = FrameDimensionTime;
  return Ok;
}

UINT Image::GetFrameCount(const GUID* id) const {
  if (status_ != Ok || !id || !(*id == FrameDimensionTime)) return 0;
  return frames_;
}

UINT Image::GetPropertyItemSize(PROPID propId) const {
  if (status_ != Ok || propId != PropertyTagFrameDelay || delays_.empty()) return 0;
  return (UINT)(sizeof(PropertyItem) + delays_.size() * sizeof(uint32_t));
}

Status Image::GetPropertyItem(PROPID propId, UINT propSize, PropertyItem* buffer) const {
  UINT need = GetPropertyItemSize(propId);
  if (need == 0) return PropertyNotFound;
  if (!buffer || propSize < need) return InvalidParameter;
  buffer->id = propId;
  buffer->type = PropertyTagTypeLong;
  buffer->length = (ULONG)(delays_.size() * sizeof(uint32_t));
  buffer->value = reinterpret_cast<char*>(buffer) + sizeof(PropertyItem);
  memcpy(buffer->value, delays_.data(), buffer->length);
  return Ok;
}

Status Image::SelectActiveFrame(const GUID* id, UINT frameIndex) {
  if (status_ != Ok || !id || !(*id == FrameDimensionTime) || frameIndex >= frames_) return InvalidParameter;
  activeFrame_ = frameIndex;
  return Ok;
}

Status Graphics::DrawImage(Image* image, INT x, INT y, INT width, INT height) {
  if (!hdc_ || !image) return InvalidParameter;
  if (image->GetLastStatus() != Ok) return image->GetLastStatus();
  Record& r = record();
  std::lock_guard<std::mutex> g(r.lock);
  r.draws.push_back(Probe::Draw{hdc_, x, y, width, height, image->GetActiveFrame()});
  return Ok;
}

namespace Probe {
int liveTokens() {
  std::lock_guard<std::mutex> g(record().lock);
  return (int)record().live.size();
}
int startups() {
  std::lock_guard<std::mutex> g(record().lock);
  return record().startups;
}
int shutdowns() {
  std::lock_guard<std::mutex> g(record().lock);
  return record().shutdowns;
}
std::vector<Draw> draws() {
  std::lock_guard<std::mutex> g(record().lock);
  return record().draws;
}
void reset() {
  std::lock_guard<std::mutex> g(record().lock);
  record().draws.clear();
  record().startups = record().shutdowns = 0;
}

std::string makeGif(int width, int height, const std::vector<uint16_t>& delays, const std::vector<bool>& withGce) {
  std::string g = "GIF89a";
  auto put16 = [&](int v) {
    g += (char)(v & 0xFF);
    g += (char)((v >> 8) & 0xFF);
  };
  put16(width);
  put16(height);
  g += (char)0x80;  // global colour table of 2 entries
  g += (char)0;
  g += (char)0;
  g += std::string("\x00\x00\x00\xff\xff\xff", 6);
  // Netscape loop extension: loop for ever.
  g += std::string("\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
  for (size_t f = 0; f < delays.size(); ++f) {
    if (f >= withGce.size() || withGce[f]) {
      g += std::string("\x21\xf9\x04\x00", 4);
      put16(delays[f]);
      g += std::string("\x00\x00", 2);
    }
    g += (char)0x2C;
    put16(0);
    put16(0);
    put16(width);
    put16(height);
    g += (char)0;
    g += (char)2;  // LZW minimum code size
    // Every pixel as a clear code and colour (f % 2), then the end code; 3-bit codes.
    std::string data;
    uint32_t acc = 0;
    int bits = 0;
    auto code = [&](uint32_t c) {
      acc |= c << bits;
      bits += 3;
      while (bits >= 8) {
        data += (char)(acc & 0xFF);
        acc >>= 8;
        bits -= 8;
      }
    };
    for (int p = 0; p < width * height; ++p) {
      code(4);
      code((uint32_t)(f % 2));
    }
    code(5);
    if (bits) data += (char)(acc & 0xFF);
    for (size_t p = 0; p < data.size(); p += 255) {
      size_t n = std::min<size_t>(255, data.size() - p);
      g += (char)n;
      g += data.substr(p, n);
    }
    g += (char)0;
  }
  g += (char)0x3B;
  return g;
}
}  // namespace Probe

}  // namespace Gdiplus
