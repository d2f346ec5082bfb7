// The wizard's dialog font. Its template names "ＭＳ Ｐゴシック", which many
// systems outside Japan lack; there the dialog is made from a copy of the
// template that names an installed font with Japanese glyphs.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Where the font sits in an extended dialog template (DLGTEMPLATEEX), in
// bytes from its start.
struct TemplateFont {
  size_t charsetOffset;  // the font's character set byte
  size_t faceOffset;     // the face name, UTF-16 with terminator
  size_t itemsOffset;    // the first control, on a 4-byte boundary
};

// False when bytes is not an extended template with a font.
bool FindTemplateFont(const uint8_t* bytes, size_t size, TemplateFont& font);
// The template with face and charset as its font, written to out; returns
// its size, or 0 when the template has no font or out is too small.
size_t WithTemplateFont(const uint8_t* bytes, size_t size, const wchar_t* face, uint8_t charset,
                        uint8_t* out, size_t capacity);

// Runs the wizard dialog (IDD_WIZARD of instance) with a Japanese font:
// the template's own where installed, else the first installed of a few
// common Japanese interface fonts, else any with the Shift-JIS character set.
INT_PTR ShowWizardDialog(HINSTANCE instance, HWND owner, LPARAM parameter);
