#pragma once
// Byte-to-Unicode decoding for RTF text: Windows, OEM and Mac code pages (single- and
// double-byte, through the C library's iconv, ICU or tables of its own) and the symbol fonts,
// whose bytes are glyph numbers, not characters.

#include <QString>
#include <array>
#include <memory>

namespace Rtf::detail {

// A code page number as RTF names it (\ansicpgN, \cpgN, or derived from \fcharsetN).
class ByteDecoder
{
public:
    explicit ByteDecoder(int codePage);
    ~ByteDecoder();
    ByteDecoder(const ByteDecoder &) = delete;
    ByteDecoder &operator=(const ByteDecoder &) = delete;

    int codePage() const { return m_codePage; }
    bool isMultiByte() const { return m_iconv != nullptr; }
    // Appends the decoded bytes to out. Bytes that the code page does not define become U+FFFD.
    void decode(const char *bytes, qsizetype size, QString &out);

private:
    int m_codePage;
    std::array<char16_t, 256> m_table{};
    void *m_iconv = nullptr;
};

// The Windows-1252 byte for a character, or -1 when the code page has none.
int toWindows1252(char16_t ch);

// The code page a font's \fcharsetN implies: 0 when the document's own code page applies,
// SymbolCodePage for the symbol charset.
constexpr int SymbolCodePage = -2;
// A code page with no codec here: its bytes from 0x80 on become U+FFFD.
constexpr int UndefinedCodePage = -3;
int codePageForCharset(int charset);

// The name iconv knows a code page by, or nullptr when there is none.
const char *iconvName(int codePage);
// Whether ByteDecoder decodes the code page (through iconv, ICU or a table of its own).
bool isKnownCodePage(int codePage);

// Symbol fonts: the Unicode character a byte of the font "Symbol" (or of Wingdings) stands for.
// Other symbol fonts keep their glyph numbers in the private-use range U+F000..U+F0FF, which is
// also where \uN puts them.
enum class SymbolFont { Symbol, Wingdings, Other };
SymbolFont symbolFontKind(const QString &family);
char32_t symbolToUnicode(SymbolFont kind, unsigned char byte);

} // namespace Rtf::detail
