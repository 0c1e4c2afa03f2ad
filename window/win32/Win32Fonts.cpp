#include "window/win32/Win32Fonts.h"

#include "ports/Utf.h"

namespace lu14::win32 {
namespace {

// Tried in order when a face of the layout is missing: the faces Windows
// itself maps "MS Sans Serif" and "Tahoma" to, then its dialog face.
constexpr const wchar_t* kFallbackFaces[] = {L"Microsoft Sans Serif", L"Tahoma", L"MS Shell Dlg 2", L"Arial"};

int CALLBACK FaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;  // one match is enough
}

bool FaceInstalled(const std::wstring& face) {
  LOGFONTW query{};
  query.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(query.lfFaceName, face.c_str(), LF_FACESIZE);
  HDC screen = GetDC(nullptr);
  bool found = false;
  EnumFontFamiliesExW(screen, &query, &FaceFound, reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  return found;
}

}  // namespace

Win32Fonts::~Win32Fonts() {
  for (const auto& [key, font] : fonts_) DeleteObject(font);
}

std::wstring Win32Fonts::InstalledFace(const std::wstring& requested) {
  if (FaceInstalled(requested)) return requested;
  for (const wchar_t* fallback : kFallbackFaces) {
    if (FaceInstalled(fallback)) return fallback;
  }
  return requested;  // let the font mapper choose
}

HFONT Win32Fonts::Get(const FontSpec& spec) {
  const FontSpec& used = spec.face.empty() ? kWindowFont : spec;
  const std::u16string face16 = Utf8ToUtf16(used.face);
  const std::wstring face = InstalledFace(std::wstring(face16.begin(), face16.end()));
  const std::wstring key = face + L"/" + std::to_wstring(used.height) + (used.bold ? L"b" : L"");
  if (const auto found = fonts_.find(key); found != fonts_.end()) return found->second;
  // A negative height asks for the character height in pixels; the texts are
  // Russian, so the Cyrillic character set is requested.
  HFONT font = CreateFontW(-used.height, 0, 0, 0, used.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                           RUSSIAN_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, face.c_str());
  fonts_[key] = font;
  return font;
}

}  // namespace lu14::win32
