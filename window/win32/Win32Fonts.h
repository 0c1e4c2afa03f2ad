// The fonts of the window's layout, created once and owned for the window's life.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "resources/WindowLayout.h"

namespace lu14::win32 {

class Win32Fonts {
 public:
  Win32Fonts() = default;
  ~Win32Fonts();
  Win32Fonts(const Win32Fonts&) = delete;
  Win32Fonts& operator=(const Win32Fonts&) = delete;

  // The font for a layout entry; an empty face means the window's font. A face
  // that is not installed is replaced by the first installed fallback face, at
  // the same character height.
  HFONT Get(const FontSpec& spec);

  // The face actually used for a requested face.
  static std::wstring InstalledFace(const std::wstring& requested);

 private:
  std::map<std::wstring, HFONT> fonts_;
};

}  // namespace lu14::win32
