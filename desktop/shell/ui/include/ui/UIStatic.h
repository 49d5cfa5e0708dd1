// CStaticUI: the animated waiting picture ("Loading.gif") that the dialogs' skins place as the
// element "StaticUI". The animation starts at the control's first paint and stops when the
// control is destroyed. UI thread only.
#pragma once

#include "duilib/UIlib.h"
#include "gdiplus/gdiplus.h"

namespace DuiLib {

class CStaticUI : public CLabelUI {
 public:
  enum { kTimerId = 100, kDefaultDelayMs = 100 };

  CStaticUI();
  ~CStaticUI() override;

  LPCTSTR GetClass() const override;                 // "StaticUI"
  LPVOID GetInterface(LPCTSTR pstrName) override;    // "Static" (case-sensitive): this control
  void DoEvent(TEventUI& event) override;            // timer 100 steps the frame; nothing else
  void DoPaint(HDC hDC, const RECT& rcPaint) override;  // the picture only, never the label

  UINT GetFrameCount() const { return frameCount; }
  UINT GetFramePosition() const { return framePosition; }
  bool IsPictureLoaded() const { return picture != nullptr; }

 private:
  void LoadPicture();
  void StepFrame();
  void PaintFrame(HDC hDC);
  // Delay of a frame in ms: the frame's own delay x 10, or the default when it is 0 or the
  // picture carries no delay for that frame.
  UINT DelayOf(UINT position) const;
  void StartTimer();

  Gdiplus::Image* picture = nullptr;
  uint32_t frameCount = 0;
  uint32_t framePosition = 0;
  Gdiplus::PropertyItem* frameDelays = nullptr;  // malloc'ed, owned
  ULONG_PTR gdiplusToken = 0;
  Gdiplus::GdiplusStartupInput gdiplusStartupInput;
};

// The control factory the dialogs share: "StaticUI" (without regard to case) gives a new
// CStaticUI; any other class name gives null.
CControlUI* CreateSharedControl(LPCTSTR pstrClass);

}  // namespace DuiLib
