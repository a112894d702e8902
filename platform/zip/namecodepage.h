#pragma once
// The code page of the names an archive stores without the UTF-8 mark.
//
// Archives made on Windows (Explorer, older tools) store names in the writer's legacy
// code page and say nothing about which one. One code page is chosen for the whole archive
// from all such names together, before any of them is split into folders:
//  * names that are all valid UTF-8 stay UTF-8 (tools on macOS and Linux write them so);
//  * otherwise each known code page is tried on every name: a page under which a name has
//    an invalid byte sequence (or control or private-use characters) is out; the others are
//    scored by how plausible the decoded text is (letters of the page's own script, the
//    frequent characters of its languages, letter case and script mixed inside a word),
//    with the library's charset detection, the writer's host system and the system locale
//    as smaller weights;
//  * weak evidence keeps CP437, the code page these names are read in by default: the
//    winner has to score well in absolute terms, not only better than the rest.
// Decoding happens before splitting, so a 0x5C byte inside a double-byte character is part
// of that character, never a folder separator. Memory stays bounded however many names are
// seen: each name adds to a fixed set of sums, and only a bounded sample is kept.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace pnvzip {

enum class CodePage {
    Utf8,
    Cp437,
    Cp850,
    Cp866,
    Cp874,
    Cp932,
    Cp936,
    Cp949,
    Cp950,
    Cp1250,
    Cp1251,
    Cp1252,
    Cp1253,
    Cp1254,
    Cp1255,
    Cp1256,
};

// "CP932", "UTF-8", …
QString codePageId(CodePage page);
// For the user: "Japanese (Shift-JIS)", "Cyrillic (DOS, CP866)", …
QString codePageLabel(CodePage page);
// A page by name: "CP932", "cp932", "932", "UTF-8", "utf8". False when none fits.
bool codePageNamed(const QString &name, CodePage *page);
// Every page's id, for messages: "UTF-8, CP437, CP850, …".
QString knownCodePages();

class NameCodePage
{
public:
    NameCodePage();
    ~NameCodePage();
    NameCodePage(NameCodePage &&) noexcept;
    NameCodePage &operator=(NameCodePage &&) noexcept;

    // The page to use whatever the names say.
    void force(CodePage page);
    // The language of the system (a locale name such as "ja_JP.UTF-8"), as a tie-break;
    // the process's own locale when never set.
    void setLocale(const QString &localeName);

    // A name as stored, without the UTF-8 mark, and the host system its entry was made on
    // (the upper byte of "version made by": 0 MS-DOS, 3 Unix, 11 NTFS, 19 macOS, …).
    // Names of plain ASCII tell nothing and are skipped.
    void add(std::string_view raw, int host);
    // Chooses the page from what was added (or the forced one).
    void decide();
    CodePage chosen() const;
    // The evidence was strong enough to leave the default; false for CP437 and UTF-8.
    bool readAsLegacy() const;
    // A name as stored, in UTF-8 according to the chosen page. Bytes the page cannot
    // read (only possible with a forced page) become U+FFFD.
    std::string decode(std::string_view raw) const;

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace pnvzip
