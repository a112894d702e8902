#pragma once
// The RTF writer: a QTextDocument, or a range of it, as RTF bytes that word processors read.
// Most callers want Rtf::write in rtf.h.
//
//     QByteArray bytes = RtfWriter().write(document);

#include <QByteArray>

class QTextDocument;

namespace Rtf {

class RtfWriter
{
public:
    // The whole document.
    QByteArray write(const QTextDocument *doc) const;
    // The characters from position from up to (not including) position to. Pictures are looked
    // up in doc's resources, then in fallback's.
    QByteArray write(const QTextDocument *doc, int from, int to,
                     const QTextDocument *fallback = nullptr) const;
};

} // namespace Rtf
