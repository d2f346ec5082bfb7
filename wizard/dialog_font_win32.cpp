#include "wizard/dialog_font.h"

#include <cstring>

#include "base/system.h"
#include "resources/resource_ids.h"
#include "wizard/wizard.h"

namespace {

// Installed on most Windows systems that can show Japanese, best first.
const wchar_t* const kFallbackFaces[] = {L"MS UI Gothic", L"Meiryo UI", L"Yu Gothic UI",
                                         L"MS PGothic", L"Meiryo", L"Yu Gothic"};

constexpr size_t kHeaderBytes = 26;  // DLGTEMPLATEEX up to the menu
constexpr size_t kTemplateCapacity = 4096;

// Skips a NUL-terminated UTF-16 text at offset; false when it runs past size.
bool SkipText(const uint8_t* bytes, size_t size, size_t& offset) {
  for (;;) {
    if (offset + 2 > size) return false;
    bool end = bytes[offset] == 0 && bytes[offset + 1] == 0;
    offset += 2;
    if (end) return true;
  }
}

// A menu or class field: 0, 0xFFFF and a number, or a text.
bool SkipNameOrNumber(const uint8_t* bytes, size_t size, size_t& offset) {
  if (offset + 2 > size) return false;
  uint16_t first = static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
  if (first == 0) {
    offset += 2;
    return true;
  }
  if (first == 0xFFFF) {
    offset += 4;
    return offset <= size;
  }
  return SkipText(bytes, size, offset);
}

}  // namespace

bool FindTemplateFont(const uint8_t* bytes, size_t size, TemplateFont& font) {
  if (size < kHeaderBytes || bytes[2] != 0xFF || bytes[3] != 0xFF) return false;  // not DLGTEMPLATEEX
  uint32_t style = 0;
  std::memcpy(&style, bytes + 12, sizeof style);
  if (!(style & DS_SETFONT)) return false;
  size_t offset = kHeaderBytes;
  if (!SkipNameOrNumber(bytes, size, offset) || !SkipNameOrNumber(bytes, size, offset) ||
      !SkipText(bytes, size, offset))
    return false;
  font.charsetOffset = offset + 5;  // behind point size, weight and italic
  font.faceOffset = offset + 6;
  size_t end = font.faceOffset;
  if (!SkipText(bytes, size, end)) return false;
  font.itemsOffset = (end + 3) & ~size_t{3};
  return font.itemsOffset <= size;
}

size_t WithTemplateFont(const uint8_t* bytes, size_t size, const wchar_t* face, uint8_t charset,
                        uint8_t* out, size_t capacity) {
  TemplateFont font;
  if (!FindTemplateFont(bytes, size, font)) return 0;
  size_t faceBytes = (wcslen(face) + 1) * sizeof(wchar_t);
  size_t items = (font.faceOffset + faceBytes + 3) & ~size_t{3};
  size_t total = items + (size - font.itemsOffset);
  if (total > capacity) return 0;
  std::memset(out, 0, items);
  std::memcpy(out, bytes, font.faceOffset);
  out[font.charsetOffset] = charset;
  std::memcpy(out + font.faceOffset, face, faceBytes);
  // The items start on a 4-byte boundary in both, so their own alignment
  // holds.
  std::memcpy(out + items, bytes + font.itemsOffset, size - font.itemsOffset);
  return total;
}

INT_PTR ShowWizardDialog(HINSTANCE instance, HWND owner, LPARAM parameter) {
  HRSRC resource = SysFindResource(instance, IDD_WIZARD, RT_DIALOG);
  HGLOBAL loaded = resource ? LoadResource(instance, resource) : nullptr;
  const auto* bytes = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
  size_t size = resource ? SizeofResource(instance, resource) : 0;
  TemplateFont font;
  if (bytes && FindTemplateFont(bytes, size, font)) {
    wchar_t face[LF_FACESIZE] = {};
    size_t faceLength = 0;
    for (size_t i = font.faceOffset; i + 1 < size && (bytes[i] || bytes[i + 1]); i += 2) {
      if (faceLength + 1 < LF_FACESIZE)
        face[faceLength++] = static_cast<wchar_t>(bytes[i] | bytes[i + 1] << 8);
    }
    // Where the template's font is missing, one that has Japanese glyphs.
    if (!SysJapaneseFontInstalled(face)) {
      wchar_t other[LF_FACESIZE] = {};
      bool found = false;
      for (const wchar_t* candidate : kFallbackFaces) {
        if (SysJapaneseFontInstalled(candidate)) {
          lstrcpynW(other, candidate, LF_FACESIZE);
          found = true;
          break;
        }
      }
      if (!found) found = SysAnyJapaneseFont(other);
      static uint8_t changed[kTemplateCapacity];
      size_t length = found ? WithTemplateFont(bytes, size, other, SHIFTJIS_CHARSET, changed,
                                               sizeof changed)
                            : 0;
      if (length > 0)
        return SysDialogBoxIndirect(instance, changed, owner, WizardDialogProc, parameter);
    }
  }
  return SysDialogBox(instance, IDD_WIZARD, owner, WizardDialogProc, parameter);
}
