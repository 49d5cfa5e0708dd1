// The animated picture control.
#include "ui/UIStatic.h"

#include <cstdlib>
#include <cstring>

namespace DuiLib {

namespace {
const UINT kPathUnits = 1024;
}

CStaticUI::CStaticUI() { Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusStartupInput, nullptr); }

CStaticUI::~CStaticUI() {
  delete picture;
  picture = nullptr;
  free(frameDelays);
  frameDelays = nullptr;
  frameCount = 0;
  framePosition = 0;
  if (m_pManager) m_pManager->KillTimer(this, kTimerId, false);  // a control never attached has no timer
  Gdiplus::GdiplusShutdown(gdiplusToken);
}

LPCTSTR CStaticUI::GetClass() const { return _T("StaticUI"); }

LPVOID CStaticUI::GetInterface(LPCTSTR pstrName) {
  if (pstrName && strcmp(pstrName, "Static") == 0) return static_cast<CStaticUI*>(this);
  return CLabelUI::GetInterface(pstrName);
}

void CStaticUI::DoEvent(TEventUI& event) {
  if (event.Type == UIEVENT_TIMER && event.wParam == kTimerId) StepFrame();
}

void CStaticUI::DoPaint(HDC hDC, const RECT& rcPaint) {
  RECT tmp;
  if (!IntersectRect(&tmp, &rcPaint, &m_rcItem)) return;
  if (!picture) LoadPicture();
  PaintFrame(hDC);
}

UINT CStaticUI::DelayOf(UINT position) const {
  if (!frameDelays || !frameDelays->value) return kDefaultDelayMs;
  UINT count = frameDelays->length / sizeof(uint32_t);
  if (position >= count) return kDefaultDelayMs;
  uint32_t d = 0;
  memcpy(&d, static_cast<const char*>(frameDelays->value) + position * sizeof(uint32_t), sizeof(d));
  return d ? d * 10 : (UINT)kDefaultDelayMs;
}

void CStaticUI::StartTimer() {
  // A still picture (or none) needs no timer.
  if (m_pManager && frameCount >= 2) m_pManager->SetTimer(this, kTimerId, DelayOf(framePosition), _T("normal"), nullptr);
}

void CStaticUI::LoadPicture() {
  CDuiString path = CPaintManagerUI::GetCurrentPath() + "\\Skin\\images\\Loading.gif";
  WCHAR wide[kPathUnits];
  int n = MultiByteToWideChar(CP_ACP, 0, path, -1, wide, (int)kPathUnits);
  if (n <= 0) wide[0] = 0;  // a path that does not fit is not opened
  picture = new Gdiplus::Image(wide);
  UINT dims = picture->GetFrameDimensionsCount();
  if (dims > 0) {
    std::vector<Gdiplus::GUID> ids(dims);
    if (picture->GetFrameDimensionsList(ids.data(), dims) == Gdiplus::Ok) frameCount = picture->GetFrameCount(&ids[0]);
  }
  UINT size = picture->GetPropertyItemSize(PropertyTagFrameDelay);
  if (size >= sizeof(Gdiplus::PropertyItem)) {
    frameDelays = static_cast<Gdiplus::PropertyItem*>(malloc(size));
    if (frameDelays && picture->GetPropertyItem(PropertyTagFrameDelay, size, frameDelays) != Gdiplus::Ok) {
      free(frameDelays);
      frameDelays = nullptr;
    }
  }
  framePosition = 0;
  StartTimer();
}

void CStaticUI::StepFrame() {
  if (m_pManager) m_pManager->KillTimer(this, kTimerId, false);
  ++framePosition;
  if (framePosition >= frameCount) framePosition = 0;
  Invalidate();
  StartTimer();
}

void CStaticUI::PaintFrame(HDC hDC) {
  if (!hDC || !picture) return;
  Gdiplus::Graphics graphics(hDC);
  graphics.DrawImage(picture, m_rcItem.left, m_rcItem.top, (INT)picture->GetWidth(), (INT)picture->GetHeight());
  if (framePosition < frameCount) picture->SelectActiveFrame(&Gdiplus::FrameDimensionTime, framePosition);
}

CControlUI* CreateSharedControl(LPCTSTR pstrClass) {
  if (pstrClass && CDuiString(pstrClass).CompareNoCase("StaticUI") == 0) return new CStaticUI();
  return nullptr;
}

}  // namespace DuiLib
