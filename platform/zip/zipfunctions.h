#pragma once
// The contract between the program and its zip component (identifier "Pnvzip.ZipFunctions").
// The component is a Qt plugin loaded at run time; this header is all the two sides share.

#include <QString>
#include <QtPlugin>

struct ZipResult
{
    int number = 0; // 0 on success, otherwise one of the component's error numbers
    QString text;   // success: what was done, for the user; failure: a readable description
    bool ok() const { return number == 0; }
};

// Both calls are synchronous, reentrant and safe to call from any thread; an instance keeps
// no state between calls. Error numbers are the component's own and never 91 or 32755,
// which the windows reserve for "object absent" and "cancelled by the user".
class ZipFunctions
{
public:
    virtual ~ZipFunctions() = default;
    // Compresses the file `source` into the archive `archive` (full paths).
    virtual ZipResult ZipFile(const QString &source, const QString &archive) = 0;
    // Extracts every entry of `archive` into the folder `folder`.
    virtual ZipResult UnzipFile(const QString &archive, const QString &folder) = 0;
};

#define ZipFunctions_iid "com.orvanne.Pnvzip.ZipFunctions/1.2"
Q_DECLARE_INTERFACE(ZipFunctions, ZipFunctions_iid)

// The identifier under which the component is registered and created.
inline constexpr char ZipComponentProgId[] = "Pnvzip.ZipFunctions";
