// The control panel's live preview (`TBitmapControl`, control 1589): the source's preview image
// drawn 1:1 in a 320 x 240 area inside a sunken two-pixel frame, turned a quarter when the
// settings rotate the picture (reduced to 180 x 240 when it is then taller than the area), and
// reduced in colour for displays of 8 bits per pixel or fewer.
#pragma once
#include <windows.h>

#include "vic32.h"
#include "window.h"

namespace twain {

class TBitmapControl : public ui::Window {
 public:
  static constexpr int kAreaWidth = 320, kAreaHeight = 240, kBorder = 2;

  // `image` and `rotate` ("Rotate Image") are the source's, read at every paint.
  TBitmapControl(const ImageDescriptor& image, const LONG& rotate);
  ~TBitmapControl() override;

  // Binds the dialog's control and reads the display's depth once.
  bool bind(HWND control);
  // After a size or rotation change the area stays blank until the next frame is grabbed: the
  // picture held until then is of the old size or turn.
  void clearPreview() { clearPending_ = true; }
  void frameGrabbed() { clearPending_ = false; }
  void setDisplayBits(int bits) { displayBits_ = bits; }

 protected:
  LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void paint(HDC dc);
  void drawFrame(HDC dc) const;
  void fillArea(HDC dc, const RECT& area) const;
  // The image to draw for this display: the preview itself, or a reduced-colour copy in `copy`.
  const ImageDescriptor& forDisplay(const ImageDescriptor& image, ImageDescriptor& copy) const;
  void drawRotated(HDC dc);
  void drawUpright(HDC dc);

  const ImageDescriptor& image_;
  const LONG& rotate_;
  HBRUSH background_;
  int displayBits_ = 24;
  bool clearPending_ = false;
};

}  // namespace twain
