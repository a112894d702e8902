#pragma once
// The RTF reader: turns RTF bytes into the content of a QTextDocument. Most callers want the
// free functions of rtf.h; this class is for callers that set limits or want the counts.
//
//     RtfReader reader;
//     if (!reader.read(bytes, document, &error)) ...   // document now holds the text
//     reader.stats().images                            // pictures shown

#include <QByteArray>
#include <QString>
#include <QStringList>

class QTextDocument;

namespace Rtf {

struct ReadLimits
{
    // Groups nested deeper than this are left out, with everything inside them.
    int maxDepth = 400;
    // Bytes that decoded pictures may take in all; a picture beyond it is left out.
    // Negative: 256 MiB plus 64 times the size of the input.
    qint64 imageBudget = -1;
};

struct ReadStats
{
    int paragraphs = 0;
    int images = 0;
    int picturesLeftOut = 0; // metafiles, damaged or too large pictures
    int groupsLeftOut = 0;   // nested deeper than ReadLimits::maxDepth
    // Content that the document shows only in part, and that saving it again would lose:
    int footnotes = 0;       // (left out)
    int headersFooters = 0;  // (left out)
    int comments = 0;        // (left out)
    int drawings = 0;        // vector drawings (left out)
    int fields = 0;          // fields other than hyperlinks (their last result is kept as text)

    // What saving the document would lose, for a message: "footnotes", "comments" ...
    QStringList lostOnSave() const;
};

class RtfReader
{
public:
    explicit RtfReader(ReadLimits limits = {});

    // Replaces the document's content (text, formats and image resources) with the RTF in
    // data. Fails, leaving the document alone, only when data is not RTF at all; damaged or
    // truncated RTF gives what could be read. Undo history is cleared; the document's default
    // font and the editor's base font are not changed.
    bool read(const QByteArray &data, QTextDocument *doc, QString *error = nullptr);

    const ReadStats &stats() const { return m_stats; }

private:
    ReadLimits m_limits;
    ReadStats m_stats;
};

} // namespace Rtf
